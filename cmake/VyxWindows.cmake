# The Windows x64 build (cmake/mingw-w64-x86_64.cmake): what differs from the Linux build.

# The Windows API as of Windows 10, without the rarely used parts of <windows.h> and without
# its min/max macros, which collide with the standard library's.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX)

# Neither Google Benchmark nor libFuzzer exists for MinGW; both stay in the Linux build.
set(VYX_BUILD_BENCH OFF CACHE BOOL "" FORCE)
set(VYX_BUILD_FUZZ OFF CACHE BOOL "" FORCE)

# Libraries of the system that the module's platform files call, beyond kernel32.
set(VYX_SYSTEM_LIBS)

# vyx_windows_googletest()
#
# GoogleTest and GoogleMock compiled from the sources of Debian's googletest package, with the
# targets that find_package(GTest) gives on Linux (its own CMake files define the GTest::
# aliases).
macro(vyx_windows_googletest)
    set(VYX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(${VYX_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    foreach(target gtest gtest_main gmock gmock_main)
        # Warnings inside GoogleTest are not ours to fix.
        target_compile_options(${target} PRIVATE -w)
    endforeach()
endmacro()


# The tests that do not run under Wine, as GoogleTest filter patterns, each with its reason.
# Keep this list short: a test that needs a Linux facility gets a Windows counterpart instead.
set(VYX_WINE_EXCLUDED_TESTS
    # Needs writes that fail while reads work: Linux has a file-size limit for that; Wine runs
    # as root on Linux and enforces no access rules of its own.
    Magazine.FailedChangeLeavesTheFileAndReadsMemoryBackFromIt
    # Need files whose read and write calls fail once they are open (/proc/self/mem, /dev/full
    # on Linux): Windows has none, and Wine's byte-range locks do not stop their own process.
    MFastFile.SystemReadAndWriteErrors
    MIniDataFileFailure.ReadErrorIsNoEndOfFile
)

# Programs and DLLs side by side, where Windows looks for a program's DLLs.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
