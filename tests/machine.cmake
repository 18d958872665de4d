# The simulated machine tool, driven through its line by the test.
if(TARGET ferobrixlan-machine AND FBX_PYTHON3)
    add_test(NAME machine_test
        COMMAND ${FBX_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/machine_test.py
                --machine=$<TARGET_FILE:ferobrixlan-machine>)
endif()
