# The end-to-end suites use Debian's python3, which has python3-serial.
find_program(FBX_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT FBX_PYTHON3)
    find_program(FBX_PYTHON3 NAMES python3)
endif()
if(FBX_PYTHON3)
    add_test(NAME cli_transfer_e2e
        COMMAND ${FBX_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/cli_transfer_test.py
                --cli=$<TARGET_FILE:ferobrixlan-cli>)
    set_tests_properties(cli_transfer_e2e PROPERTIES TIMEOUT 600)
endif()
