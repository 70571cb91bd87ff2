# Cross-compiles for 64-bit Windows with MinGW-w64: the same sources, for
# tests, `make run` and `make bench` on machines that cannot run 32-bit
# programs, under 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUORVEL_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw32-common.cmake)
