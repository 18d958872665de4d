# Suites of the main window and the dialogs it opens.
if(TARGET fbx_windows)
    foreach(suite main_window_test settings_dialog_test path_dialog_test
                  processing_dialog_test about_instruction_test)
        fbx_add_qtest(${suite} SOURCES ${suite}.cpp LIBS fbx_windows)
    endforeach()
    target_compile_definitions(about_instruction_test PRIVATE
        FEROBRIXLAN_TEST_VERSION="${PROJECT_VERSION}")
endif()
