# Platform twins: a source named *_<platform>.cpp belongs to one platform only. The Linux build
# takes *_posix.cpp (and the X11 window and the Aravis camera back end, *_x11.cpp and
# *_aravis.cpp); the Windows build takes the *_win32.cpp twins instead.
if(WIN32)
    set(VYX_OTHER_PLATFORM_SOURCES "_(posix|x11|aravis)\\.cpp$")
else()
    set(VYX_OTHER_PLATFORM_SOURCES "_win32\\.cpp$")
endif()

# vyx_platform_sources(<list variable>)
#
# Drops the other platform's twins from the list.
function(vyx_platform_sources var)
    set(kept ${${var}})
    list(FILTER kept EXCLUDE REGEX "${VYX_OTHER_PLATFORM_SOURCES}")
    set(${var} ${kept} PARENT_SCOPE)
endfunction()

# vyx_library(<name> DIRS <folder>... [EXCLUDE <regex>...] [DEPS <target>...])
#
# One static library per subsystem, made of every *.cpp in the named folders
# (relative to the calling CMakeLists.txt) that belongs to this platform, less
# every file whose path matches an EXCLUDE expression.
function(vyx_library name)
    cmake_parse_arguments(L "" "" "DIRS;EXCLUDE;DEPS" ${ARGN})
    set(sources)
    foreach(dir IN LISTS L_DIRS)
        file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
        list(APPEND sources ${found})
    endforeach()
    vyx_platform_sources(sources)
    foreach(pattern IN LISTS L_EXCLUDE)
        list(FILTER sources EXCLUDE REGEX "${pattern}")
    endforeach()
    if(NOT sources)
        # A subsystem whose code has not landed yet still gives a target to link.
        set(sources ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
    endif()
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC ${L_DEPS})
endfunction()
