fbx_add_gtest(send_engine_test SOURCES send_engine_test.cpp LIBS fbx_transfer)
fbx_add_gtest(receive_engine_test SOURCES receive_engine_test.cpp FileFaults.cpp LIBS fbx_transfer)
target_link_options(receive_engine_test PRIVATE -Wl,--wrap=close -Wl,--wrap=fsync -Wl,--wrap=ftruncate)
