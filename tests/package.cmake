# The manual pages against the programs.
find_program(FBX_PACKAGE_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(TARGET man_pages AND TARGET ferobrixlan-server AND TARGET ferobrixlan-machine AND FBX_PACKAGE_PYTHON3)
    set(pages ferobrixlan-cli.1=$<TARGET_FILE:ferobrixlan-cli>
              ferobrixlan-server.8=$<TARGET_FILE:ferobrixlan-server>
              ferobrixlan-machine.1=$<TARGET_FILE:ferobrixlan-machine>)
    if(TARGET ferobrixlan)
        list(APPEND pages ferobrixlan.1=$<TARGET_FILE:ferobrixlan>)
    endif()
    add_test(NAME man_pages
        COMMAND ${FBX_PACKAGE_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/package/man_pages_test.py
                ${PROJECT_BINARY_DIR}/docs/man $<TARGET_FILE:ferobrixlan-server> ${pages})
    set_tests_properties(man_pages PROPERTIES TIMEOUT 120)
endif()
