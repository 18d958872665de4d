# Real lines: the pacing of a line, the port map, the network ports and the
# serial layer's own settings on terminal devices.
fbx_add_gtest(line_pacer_test SOURCES line_pacer_test.cpp LIBS fbx_serial)
fbx_add_gtest(port_map_test SOURCES port_map_test.cpp LIBS fbx_serial)
fbx_add_gtest(telnet_test SOURCES telnet_test.cpp LIBS fbx_serial)
fbx_add_gtest(network_serial_port_test SOURCES network_serial_port_test.cpp LIBS fbx_serial)
fbx_add_gtest(posix_line_settings_test SOURCES posix_line_settings_test.cpp LIBS fbx_serial util)
