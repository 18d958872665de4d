# Real lines: the pacing of a line, the port map, the network ports and the
# serial layer on terminal devices.
fbx_add_gtest(line_pacer_test SOURCES line_pacer_test.cpp LIBS fbx_serial)
fbx_add_gtest(port_map_test SOURCES port_map_test.cpp LIBS fbx_serial)
fbx_add_gtest(telnet_test SOURCES telnet_test.cpp LIBS fbx_serial)
fbx_add_gtest(network_serial_port_test SOURCES network_serial_port_test.cpp LIBS fbx_serial)

# End-to-end: ferobrixlan-cli through serial device servers (ser2net and
# pyserial's RFC 2217 PortManager) to ferobrixlan-machine.
if(NOT FBX_PYTHON3)
    find_program(FBX_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
endif()
if(FBX_PYTHON3 AND TARGET ferobrixlan-machine)
    add_test(NAME device_server_e2e
        COMMAND ${FBX_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/device_server_e2e_test.py
                --cli=$<TARGET_FILE:ferobrixlan-cli>
                --machine=$<TARGET_FILE:ferobrixlan-machine>)
    set_tests_properties(device_server_e2e PROPERTIES TIMEOUT 600)
    # The demo's simulated line at 9600 baud, paced as scripts/run --demo paces it.
    add_test(NAME demo_timing_e2e
        COMMAND ${FBX_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/demo_timing_e2e_test.py
                --cli=$<TARGET_FILE:ferobrixlan-cli>
                --machine=$<TARGET_FILE:ferobrixlan-machine>)
    # Figures of a few characters: measured with no other suite competing
    # for the processor.
    set_tests_properties(demo_timing_e2e PROPERTIES RUN_SERIAL TRUE)
    set_tests_properties(demo_timing_e2e PROPERTIES TIMEOUT 300)
endif()
# scripts/test-line's checks, run over a socat pty pair paced as a line.
if(FBX_PYTHON3)
    add_test(NAME line_test_on_ptys
        COMMAND ${FBX_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/line_test.py
                --cli=$<TARGET_FILE:ferobrixlan-cli> --baud 57600 --ptys)
    set_tests_properties(line_test_on_ptys PROPERTIES TIMEOUT 300)
endif()

# The UART branch under test: a small Linux guest under QEMU runs
# ferobrixlan-cli and uart_guest_probe (what the serial layer does on a real
# 16550 UART) against the test on this side. Skipped with the reason where
# the guest cannot be built or does not boot.
add_executable(uart_guest_probe uart_guest_probe.cpp)
target_link_libraries(uart_guest_probe PRIVATE fbx_serial)
if(FBX_PYTHON3)
    add_test(NAME uart_guest_e2e
        COMMAND ${FBX_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/uart_guest_test.py
                --build=${CMAKE_BINARY_DIR})
    set_tests_properties(uart_guest_e2e PROPERTIES TIMEOUT 600)
endif()
