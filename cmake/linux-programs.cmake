# Small Linux programs beside the Windows build, compiled with the build
# machine's own compiler: the simulated modem on a pty (for `make tap`
# without hardware), the peer at the far end of a real line, the runner
# through which Windows tests start Linux programs (for the tests and the
# benchmark) and the benchmark's record of when the machine stood still. They land in
# <build folder>/linux/.
find_program(QUORVEL_HOST_CXX NAMES g++ c++ REQUIRED)
set(QUORVEL_LINUX_DIR ${CMAKE_BINARY_DIR}/linux)

# quorvel_linux_program(NAME SOURCES...)
function(quorvel_linux_program name)
    set(sources ${ARGN})
    list(TRANSFORM sources PREPEND ${CMAKE_SOURCE_DIR}/)
    add_custom_command(
        OUTPUT ${QUORVEL_LINUX_DIR}/${name}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QUORVEL_LINUX_DIR}
        COMMAND ${QUORVEL_HOST_CXX} -std=c++20 -O2 -Wall -Wextra -Werror -I${CMAKE_SOURCE_DIR}
                -o ${QUORVEL_LINUX_DIR}/${name} ${sources}
        DEPENDS ${sources} ${CMAKE_SOURCE_DIR}/emulator/lines/hayes_modem.h ${CMAKE_SOURCE_DIR}/emulator/linux/raw_line.h
                ${CMAKE_SOURCE_DIR}/emulator/scenario/scenario_escapes.h ${CMAKE_SOURCE_DIR}/tests/support/line_pattern.h
        VERBATIM)
    add_custom_target(${name} ALL DEPENDS ${QUORVEL_LINUX_DIR}/${name})
endfunction()

quorvel_linux_program(quorvel-pty-modem emulator/linux/pty_modem.cpp emulator/lines/hayes_modem.cpp)
quorvel_linux_program(serial_peer tests/linux/serial_peer.cpp emulator/scenario/scenario_escapes.cpp)
quorvel_linux_program(run_to_file tests/linux/run_to_file.cpp)
quorvel_linux_program(machine_stalls bench/linux/machine_stalls.cpp)

# quorvel-tap and its tests: a native project of their own (tap/), built
# with the same compiler into the same folder.
add_custom_target(quorvel-tap ALL
    COMMAND ${CMAKE_COMMAND} -S ${CMAKE_SOURCE_DIR}/tap -B ${CMAKE_BINARY_DIR}/tap-native
            -DCMAKE_CXX_COMPILER=${QUORVEL_HOST_CXX} -DQUORVEL_LINUX_DIR=${QUORVEL_LINUX_DIR}
            -DCMAKE_TOOLCHAIN_FILE= --log-level=WARNING
    COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR}/tap-native --parallel 2
    VERBATIM)
