# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads, for
# std::thread and std::mutex), running what it builds under Wine.
# Usage: cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVIK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVIK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVIK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVIK_MINGW_TRIPLE}-windres)

# Headers, libraries and packages only from the Windows sysroot, never the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${TARVIK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: the C++ runtime and winpthreads go inside it,
# so nothing but the system's own DLLs has to sit beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# add_test runs the .exe files under Wine.
find_program(TARVIK_WINE NAMES wine)
if(TARVIK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVIK_WINE})
endif()
