# What both Windows cross builds share (Debian's mingw-w64 compiler with
# POSIX threads, linked statically so the programs need no runtime DLLs;
# tests run under Wine). The toolchain file that includes it names the
# processor: KVR_MINGW_PROCESSOR x86_64 or i686.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KVR_MINGW_PROCESSOR})
set(KVR_MINGW_TRIPLET ${KVR_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${KVR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KVR_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KVR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
