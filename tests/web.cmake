# The shop service's web side: its parts without a network, and the
# comparison of programs it shares with ferobrixlan-cli.
fbx_add_gtest(program_compare_test SOURCES program_compare_test.cpp LIBS fbx_editor)
if(TARGET fbx_shop_web)
    fbx_add_gtest(web_parts_test SOURCES web_parts_test.cpp LIBS fbx_shop_web)
endif()

# Over HTTP with simulated machines (the server suite's shop fixture), and in
# a real browser: headless Chromium through Selenium, skipped with a message
# where it cannot start.
find_program(FBX_WEB_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(TARGET ferobrixlan-server AND TARGET ferobrixlan-machine AND FBX_WEB_PYTHON3)
    foreach(suite web_e2e web_browser)
        add_test(NAME ${suite} COMMAND ${FBX_WEB_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/${suite}_test.py)
        set_tests_properties(${suite} PROPERTIES TIMEOUT 300 ENVIRONMENT
            "FEROBRIXLAN_SERVER=$<TARGET_FILE:ferobrixlan-server>;FEROBRIXLAN_MACHINE=$<TARGET_FILE:ferobrixlan-machine>")
    endforeach()
endif()
