# Cross-compiles the Windows x64 build with MinGW-w64 (posix thread model, so that std::thread
# and std::mutex work) and runs what it builds under Wine. Used by scripts/test-windows:
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VYX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VYX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VYX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VYX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VYX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked in: the DLLs and programs need no MinGW run-time DLL
# beside them, only what every Windows has (kernel32, msvcrt, ole32, user32, gdi32).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# ctest starts every test program through Wine.
find_program(VYX_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VYX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VYX_WINE})
endif()
