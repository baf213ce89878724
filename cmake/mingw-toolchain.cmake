# The part of cmake/mingw-x86.cmake and cmake/mingw-x64.cmake that both share: MinGW-w64 GCC with
# the posix thread model for CMAKE_SYSTEM_PROCESSOR (i686 or x86_64), which the including file
# sets, and Wine of that architecture (vexil_wine_arch: x86 or x64) to run the programs built.
set(CMAKE_SYSTEM_NAME Windows)
set(vexil_mingw_triple ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${vexil_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${vexil_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${vexil_mingw_triple}-windres)
set(CMAKE_DLLTOOL ${vexil_mingw_triple}-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/${vexil_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests are Windows programs: ctest runs them under Wine through this wrapper, with the Wine
# loader of this architecture (the prefix: --prefix, by default build/mingw-ARCH/wineprefix).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run --arch
                                  ${vexil_wine_arch})
