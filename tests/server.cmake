# The shop-floor service: its configuration, the names and patterns that
# come from the line, the line kept between engines, and the host of one
# machine driven with an in-memory line.
if(TARGET fbx_shop)
    fbx_add_gtest(shop_config_test SOURCES shop_config_test.cpp LIBS fbx_shop)
    fbx_add_gtest(request_names_test SOURCES request_names_test.cpp LIBS fbx_shop)
    fbx_add_gtest(line_keeper_test SOURCES line_keeper_test.cpp LIBS fbx_shop)
    fbx_add_gtest(machine_host_test SOURCES machine_host_test.cpp LIBS fbx_shop)
endif()
