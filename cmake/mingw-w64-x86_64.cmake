# Cross build for Windows x86-64, the program's real target, with Debian's mingw-w64 (posix thread model:
# std::thread and std::mutex need it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Headers, libraries and packages of the target only: the build machine's /usr/include holds glibc's
# headers, which must never reach a Windows compile. (The host's header-only CLI11 and nlohmann-json are
# brought in through a directory of links to just those two, in the top CMakeLists.txt.)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Without -static the program exits with code 53 under Wine: a runtime DLL (libstdc++, libwinpthread) is
# not found.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# No CMAKE_CROSSCOMPILING_EMULATOR here: Wine must only ever run through the serial-device guard, and
# tests/wine/CMakeLists.txt runs each Windows test through tests/wine/wine.sh, which keeps to it.
