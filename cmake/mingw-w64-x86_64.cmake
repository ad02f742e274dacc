# Cross build for 64-bit Windows with Debian's mingw-w64. The posix thread model
# compilers, because the win32 ones lack std::thread and std::mutex; static
# linking, so the programs need only system DLLs; Wine runs the test programs
# for ctest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FWUP_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${FWUP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FWUP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${FWUP_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FWUP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/wine)
