# vyx_test(<name> LIBS <target>... [CONCURRENCY])
#
# One GoogleTest executable per subsystem, made of every *.cpp below the
# calling folder that belongs to this platform (less the Windows build's list
# of excluded test sources). It is registered with ctest as <name>. With
# CONCURRENCY the suites whose names end in "Concurrency" are registered once
# more as <name>_concurrency, labelled "concurrency", which scripts/test also
# runs under ThreadSanitizer.
function(vyx_test name)
    cmake_parse_arguments(T "CONCURRENCY" "" "LIBS" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    vyx_platform_sources(sources)
    foreach(skipped IN LISTS VYX_WINDOWS_EXCLUDED_TEST_SOURCES)
        list(REMOVE_ITEM sources ${PROJECT_SOURCE_DIR}/${skipped})
    endforeach()
    # The main comes with the test support: it also starts the children of cross-process tests.
    add_executable(${name} ${sources} ${PROJECT_SOURCE_DIR}/tests/support/testmain.cpp)
    target_link_libraries(${name} PRIVATE ${T_LIBS} vyx_testsupport GTest::gmock)
    # The libraries under test keep their configuration's optimisation. The test drivers gain
    # nothing from it and compile twice as fast without it (more than that under the sanitizers).
    target_compile_options(${name} PRIVATE -O0)
    # GCC 12 warns wrongly about overlapping copies inside std::string concatenations (GCC bug
    # 105651) once tests build strings with operator+ at -O2; the module's own code stays clean.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${name} PRIVATE -Wno-restrict)
    endif()
    # Under Wine, the tests of the one list in VyxWindows.cmake are left out.
    set(excluded "")
    if(VYX_WINE_EXCLUDED_TESTS)
        list(JOIN VYX_WINE_EXCLUDED_TESTS ":" excluded)
        set(excluded ":-${excluded}")
    endif()
    add_test(NAME ${name} COMMAND ${name} --gtest_filter=*${excluded})
    set_tests_properties(${name} PROPERTIES LABELS "unit" TIMEOUT 900)
    if(T_CONCURRENCY)
        add_test(NAME ${name}_concurrency
                 COMMAND ${name} --gtest_filter=*Concurrency.*:*Concurrency/*${excluded})
        set_tests_properties(${name}_concurrency PROPERTIES LABELS "concurrency" TIMEOUT 900)
        add_dependencies(concurrency_tests ${name})
    endif()
endfunction()

add_custom_target(concurrency_tests)
