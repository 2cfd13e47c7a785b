# Cross-compiles for 64-bit Windows with Debian's mingw-w64. The posix-threads
# variant of the compiler is the one whose std::thread and std::mutex work.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FIRSTLOAD_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${FIRSTLOAD_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FIRSTLOAD_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${FIRSTLOAD_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FIRSTLOAD_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages built for Windows elsewhere come in through CMAKE_PREFIX_PATH.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Lets ctest run the Windows programs on this machine.
find_program(FIRSTLOAD_WINE wine)
if(FIRSTLOAD_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FIRSTLOAD_WINE})
endif()
