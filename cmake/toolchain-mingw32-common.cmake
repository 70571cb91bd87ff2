# What both MinGW-w64 toolchains share: the posix thread model (GoogleTest
# needs std::mutex), the cross-compiler's own root, and Wine to run every test
# executable through the harness. The including file sets QUORVEL_MINGW_PREFIX
# (i686-w64-mingw32 or x86_64-w64-mingw32) and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${QUORVEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${QUORVEL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
