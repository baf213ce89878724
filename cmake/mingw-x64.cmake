# Cross-compiles for 64-bit Windows with MinGW-w64 (x86_64, posix thread model).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(vexil_wine_arch x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
