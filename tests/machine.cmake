# The simulated machine tool, driven through its link by a PC-side peer.
if(TARGET ferobrixlan-machine)
    fbx_add_gtest(machine_test SOURCES machine_test.cpp LIBS fbx_machine fbx_serial fbx_codes)
    target_compile_definitions(machine_test PRIVATE
        FBX_MACHINE_EXE="$<TARGET_FILE:ferobrixlan-machine>")
    add_dependencies(machine_test ferobrixlan-machine)
endif()
