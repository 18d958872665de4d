if(TARGET fbx_transfer_window)
    fbx_add_qtest(transfer_window_test SOURCES transfer_window_test.cpp LIBS fbx_transfer_window)
endif()
