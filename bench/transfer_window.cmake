# The transfer window against a bare QScintilla text area (transfer_open_bench).
if(TARGET fbx_transfer_window)
    add_executable(transfer_open_bench ${CMAKE_CURRENT_LIST_DIR}/transfer_open_bench.cpp)
    target_link_libraries(transfer_open_bench PRIVATE fbx_transfer_window Qt6::Test)
endif()
