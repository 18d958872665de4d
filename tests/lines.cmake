# Real lines: the pacing of a line, the port map, the network ports and the
# serial layer's own settings on terminal devices.
fbx_add_gtest(line_pacer_test SOURCES line_pacer_test.cpp LIBS fbx_serial)
