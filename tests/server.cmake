# The shop-floor service: its configuration, the names and patterns that
# come from the line, the line kept between engines, and the host of one
# machine driven with an in-memory line.
if(TARGET fbx_shop)
    fbx_add_gtest(shop_config_test SOURCES shop_config_test.cpp LIBS fbx_shop)
    fbx_add_gtest(request_names_test SOURCES request_names_test.cpp LIBS fbx_shop)
    fbx_add_gtest(machine_host_test SOURCES machine_host_test.cpp LIBS fbx_shop)
endif()

# End to end: the service with a shop of simulated machines on pseudo-terminals.
find_program(FBX_SERVER_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(TARGET ferobrixlan-server AND TARGET ferobrixlan-machine AND FBX_SERVER_PYTHON3)
    add_test(NAME server_e2e
        COMMAND ${FBX_SERVER_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/server_e2e_test.py)
    set_tests_properties(server_e2e PROPERTIES TIMEOUT 300 ENVIRONMENT
        "FEROBRIXLAN_SERVER=$<TARGET_FILE:ferobrixlan-server>;FEROBRIXLAN_MACHINE=$<TARGET_FILE:ferobrixlan-machine>")
endif()
