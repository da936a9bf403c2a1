# Cross-building for 64-bit Windows with Debian's MinGW-w64 (the POSIX-threads flavour, which
# std::thread and std::mutex need). The programs are linked statically, so that they run on a
# Windows machine, or under Wine here, without the compiler's runtime DLLs.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/MinGW-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(DM_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${DM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${DM_MINGW_TRIPLE}-windres)

# Headers and libraries (zlib, odbc32) only from the cross sysroot; programs from the build host.
set(CMAKE_FIND_ROOT_PATH /usr/${DM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# A library found as a file (odbc32's import library) makes CMake switch the linker back to
# dynamic after it, which would take the compiler's runtime from its DLLs again: the link line
# starts and ends static.
set(CMAKE_LINK_SEARCH_START_STATIC ON)
set(CMAKE_LINK_SEARCH_END_STATIC ON)
set(ZLIB_USE_STATIC_LIBS ON)

# Test programs run under Wine on the build host.
find_program(DM_WINE wine)
if(DM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DM_WINE})
endif()
