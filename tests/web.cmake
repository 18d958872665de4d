# The shop service's web side: its parts without a network, and the
# comparison of programs it shares with ferobrixlan-cli.
fbx_add_gtest(program_compare_test SOURCES program_compare_test.cpp LIBS fbx_editor)
if(TARGET fbx_shop_web)
    fbx_add_gtest(web_parts_test SOURCES web_parts_test.cpp LIBS fbx_shop_web)
endif()
