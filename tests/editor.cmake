# The editor: numbering and search on text, the number command, the window.
fbx_add_gtest(numbering_test SOURCES numbering_test.cpp LIBS fbx_editor)
target_compile_definitions(numbering_test PRIVATE FBX_CLI="$<TARGET_FILE:ferobrixlan-cli>")
add_dependencies(numbering_test ferobrixlan-cli)
fbx_add_gtest(search_test SOURCES search_test.cpp LIBS fbx_editor)
if(TARGET fbx_editor_window)
    fbx_add_qtest(editor_window_test SOURCES editor_window_test.cpp LIBS fbx_editor_window)
endif()
