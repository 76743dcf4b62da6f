# Cross build for 64-bit Windows with the win32-thread flavour (no winpthreads) of MinGW-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TELVIO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TELVIO_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TELVIO_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${TELVIO_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TELVIO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Windows programs run here through Wine; ctest calls them through this runner.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)
