# The Windows build (CMAKE_SYSTEM_NAME Windows, e.g. with the tool chain file
# cmake/mingw-w64-x86_64.cmake).
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  message(FATAL_ERROR "The Windows build is 64-bit only: use an x86_64 compiler "
    "(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake). A 32-bit build would first "
    "need a calling convention settled for the exported functions.")
endif()
if(NOT MINGW)
  message(FATAL_ERROR "The Windows build is made with MinGW-w64 (GCC); other compilers "
    "use the built DLL through VARNOX.def or its import library, see the README.")
endif()

# DLL and programs in one directory, as Windows finds a program's DLLs beside
# it; import libraries and archives in lib/.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)

# The compiler's run time (libgcc, libstdc++) is linked in, so VARNOX.dll and
# the programs need only the system's DLLs (KERNEL32, msvcrt).
add_link_options(-static)
