set(CMAKE_C_COMPILER ${PTA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PTA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PTA_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PTA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The DDK headers that ship with mingw-w64, for the kernel drivers.
set(PTA_DDK_INCLUDE_DIR /usr/${PTA_MINGW_TRIPLE}/include/ddk)
# ctest runs Windows programs through the Wine bench.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-exec)
