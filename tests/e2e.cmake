# End to end: ferobrixlan-cli as a process over lines held by the test and by
# peers nobody here wrote; the simulated machine tool; device servers
# (ser2net, pyserial's RFC 2217 PortManager) in front of a line;
# scripts/test-line's checks over a socat pty pair paced as a line; and a
# small Linux guest under QEMU running ferobrixlan-cli and uart_guest_probe on
# a real 16550 UART (skipped with the reason where the guest cannot be built
# or does not boot).
set(FBX_CLI_ARG --cli=$<TARGET_FILE:ferobrixlan-cli>)
set(FBX_MACHINE_ARG --machine=$<TARGET_FILE:ferobrixlan-machine>)
fbx_add_pytest(cli_transfer_e2e cli_transfer_test.py ${FBX_CLI_ARG})
fbx_add_pytest(line_test_on_ptys line_test.py ${FBX_CLI_ARG} --baud 57600 --ptys)
add_executable(uart_guest_probe uart_guest_probe.cpp)
target_link_libraries(uart_guest_probe PRIVATE fbx_serial)
fbx_add_pytest(uart_guest_e2e uart_guest_test.py --build=${CMAKE_BINARY_DIR})
fbx_add_pytest(machine_test machine_test.py ${FBX_MACHINE_ARG})
fbx_add_pytest(device_server_e2e device_server_e2e_test.py ${FBX_CLI_ARG} ${FBX_MACHINE_ARG})
# The demo's simulated line at 9600 baud, paced as scripts/run --demo paces it.
fbx_add_pytest(demo_timing_e2e demo_timing_e2e_test.py ${FBX_CLI_ARG} ${FBX_MACHINE_ARG})
# Figures of a few characters: measured with no other suite competing for the
# processor.
if(TEST demo_timing_e2e)
    set_tests_properties(demo_timing_e2e PROPERTIES RUN_SERIAL TRUE TIMEOUT 300)
endif()
