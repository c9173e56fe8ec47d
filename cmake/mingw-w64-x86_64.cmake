# Cross-compiles the Windows build (64-bit) with the MinGW-w64 tool chain of
# Debian (package g++-mingw-w64-x86-64):
#     cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The posix thread model is taken: GoogleTest needs std::mutex, which GCC 12
# has only there. Its run time (libwinpthread) is linked in statically, like
# libgcc and libstdc++ (cmake/Windows.cmake), so no DLL but the system's is
# needed beside the programs. Test programs run under Wine when it is
# installed (CMAKE_CROSSCOMPILING_EMULATOR).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VARNOX_MINGW_PREFIX x86_64-w64-mingw32)
find_program(VARNOX_MINGW_GCC NAMES ${VARNOX_MINGW_PREFIX}-gcc-posix ${VARNOX_MINGW_PREFIX}-gcc)
find_program(VARNOX_MINGW_GXX NAMES ${VARNOX_MINGW_PREFIX}-g++-posix ${VARNOX_MINGW_PREFIX}-g++)
find_program(VARNOX_MINGW_WINDRES NAMES ${VARNOX_MINGW_PREFIX}-windres)
if(NOT VARNOX_MINGW_GCC OR NOT VARNOX_MINGW_GXX)
  message(FATAL_ERROR "The MinGW-w64 cross compiler was not found. "
    "Install it with: apt-get install g++-mingw-w64-x86-64")
endif()
set(CMAKE_C_COMPILER ${VARNOX_MINGW_GCC})
set(CMAKE_CXX_COMPILER ${VARNOX_MINGW_GXX})
if(VARNOX_MINGW_WINDRES)
  set(CMAKE_RC_COMPILER ${VARNOX_MINGW_WINDRES})
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${VARNOX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine runs the test programs (ctest and test discovery go through it).
find_program(VARNOX_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VARNOX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VARNOX_WINE})
endif()
