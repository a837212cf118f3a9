# The mingw-w64 toolchain with the posix thread model's compilers, which the Windows build uses
# for the programs and their tests alike: GCC 12's win32 model has no std::mutex, which
# GoogleTest needs. Used by scripts/build-windows.sh.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.toolchain.cmake)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
