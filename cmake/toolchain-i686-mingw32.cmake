# Cross-compiles for 32-bit Windows with MinGW-w64: the product.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUORVEL_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw32-common.cmake)
