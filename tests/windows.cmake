# Suites of the main window and the dialogs it opens. The main window's suite
# runs on a screen of 1600x1000 pixels at twice the scale, where every window
# must still fit.
if(TARGET fbx_windows)
    foreach(suite main_window_test settings_dialog_test)
        fbx_add_qtest(${suite} SOURCES ${suite}.cpp LIBS fbx_windows)
    endforeach()
    target_link_libraries(main_window_test PRIVATE fbx_transfer_window fbx_editor_window)
    set_property(TEST main_window_test APPEND PROPERTY ENVIRONMENT QT_SCALE_FACTOR=2
        QT_QPA_PLATFORM=offscreen:configfile=${CMAKE_CURRENT_SOURCE_DIR}/screen-1600x1000.json)
endif()
