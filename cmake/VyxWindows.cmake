# The Windows x64 build (cmake/mingw-w64-x86_64.cmake): what differs from the Linux build.

# The Windows API as of Windows 10, without the rarely used parts of <windows.h> and without
# its min/max macros, which collide with the standard library's.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX)

# Neither Google Benchmark nor libFuzzer exists for MinGW; both stay in the Linux build.
set(VYX_BUILD_BENCH OFF CACHE BOOL "" FORCE)
set(VYX_BUILD_FUZZ OFF CACHE BOOL "" FORCE)

# The preview-memory viewer host/vyxview is an Xlib program and stays in the Linux build (its
# CMakeLists.txt builds nothing here); on Windows clients read preview memories themselves.

# Libraries of the system that the module's platform files call, beyond kernel32.
set(VYX_SYSTEM_LIBS)

# The header-only libraries that Debian installs for Linux (Asio, CLI11) serve this build too.
# Their folders are linked into one of the build's own: /usr/include as a whole would put
# Linux's C headers before MinGW's.
set(VYX_HEADER_ONLY_DIR ${CMAKE_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${VYX_HEADER_ONLY_DIR})
foreach(entry CLI asio asio.hpp)
    if(EXISTS /usr/include/${entry})
        file(CREATE_LINK /usr/include/${entry} ${VYX_HEADER_ONLY_DIR}/${entry} SYMBOLIC)
    endif()
endforeach()
if(EXISTS ${VYX_HEADER_ONLY_DIR}/CLI)
    add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
    set_target_properties(CLI11::CLI11 PROPERTIES
                          INTERFACE_INCLUDE_DIRECTORIES ${VYX_HEADER_ONLY_DIR})
endif()
if(EXISTS ${VYX_HEADER_ONLY_DIR}/asio.hpp)
    # Winsock and its extensions, which Asio's sockets call.
    add_library(vyx_asio INTERFACE)
    target_include_directories(vyx_asio SYSTEM INTERFACE ${VYX_HEADER_ONLY_DIR})
    target_link_libraries(vyx_asio INTERFACE ws2_32 mswsock)
endif()

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

# What of the tests the Windows build leaves out, in one place, each with its reason. Keep it
# short: a test that needs a Linux facility gets a Windows counterpart instead.
#
# Test sources not built for Windows (paths from the top folder):
set(VYX_WINDOWS_EXCLUDED_TEST_SOURCES
    # The GenICam back end is Aravis's, built on Linux only; its tests drive Aravis's test
    # cameras, one of them a GigE Vision camera in a network namespace of its own.
    tests/support/fakegigecamera.cpp
    tests/support/genicamtestsupport.cpp
    tests/platform/vyx/genicamcamera_test.cpp
    tests/platform/vyx/genicamoptional_test.cpp
    tests/mt_proxy/camera/csensorgenicam_test.cpp
    tests/mt_proxy/camera/mcameramachgenicam_test.cpp
    # The viewer vyxview is an X11 program and is not built for Windows (host/vyxview/); the
    # module's own preview window is, as a GDI window.
    tests/mt_proxy/camera/vyxview_test.cpp
)
# The reader library vyxfifo builds for Windows and its tests run under Wine; its example
# (clients/c/examples/vyxfifo_scan.c) speaks TCP through POSIX sockets and is Linux-only, and
# the tests that run the Python client (the readers' agreement, the end-to-end tests of
# tests/clients/e2e) and the install check through pkg-config are not registered.
#
# ctest tests not registered for Windows: the end-to-end tests of lintelhost
# (tests/host/e2e/, Python scripts that start the host as a Linux process, with Python readers of
# /dev/shm, Linux mount namespaces and /proc). lintelhost.exe itself is built; the protocol's
# unit tests run under Wine, and tests/host/wine/ drives it over TCP. Its error log is a plain
# file in the host's directory there (hostplatform_win32.cpp: no file in memory that the C
# run-time opens by name), so a full disk there can silence the reason that would name it.
# The same holds for the record-and-replay test (tests/platform/vyx/replay_e2e.py); the replay
# itself is tested under Wine in test_vyx.
#
# The tests that do not run under Wine, as GoogleTest filter patterns:
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
