# Cross-compiles for 32-bit Windows with MinGW-w64 (i686, posix thread model).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(vexil_wine_arch x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
