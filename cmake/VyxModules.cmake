# vyx_library(<name> DIRS <folder>... [EXCLUDE <regex>...] [DEPS <target>...])
#
# One static library per subsystem, made of every *.cpp in the named folders
# (relative to the calling CMakeLists.txt). Files ending in _win32.cpp are the
# Windows twins of the *_posix.cpp files and are left out of this build, and so
# is every file whose path matches an EXCLUDE expression.
function(vyx_library name)
    cmake_parse_arguments(L "" "" "DIRS;EXCLUDE;DEPS" ${ARGN})
    set(sources)
    foreach(dir IN LISTS L_DIRS)
        file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
        list(APPEND sources ${found})
    endforeach()
    list(FILTER sources EXCLUDE REGEX "_win32\\.cpp$")
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
