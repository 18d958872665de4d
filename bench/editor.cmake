# The editor's benchmarks: bench/number.sh (ferobrixlan-cli number against
# awk, then the editor window against QPlainTextEdit through the program below).
if(TARGET fbx_editor_window)
    add_executable(editor_open_bench ${CMAKE_CURRENT_LIST_DIR}/editor_open_bench.cpp)
    set_target_properties(editor_open_bench PROPERTIES AUTOMOC ON)
    target_link_libraries(editor_open_bench PRIVATE fbx_editor_window)
endif()
