# The transfer window and the Send and Receive commands that open it.
add_library(fbx_transfer_window STATIC
    EngineHost.cpp EngineHost.h
    ProgramBox.cpp ProgramBox.h
    ScreenSaver.cpp ScreenSaver.h
    TransferFlows.cpp TransferFlows.h
    TransferWindow.cpp TransferWindow.h)
target_include_directories(fbx_transfer_window PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(fbx_transfer_window PUBLIC
    fbx_ui fbx_transfer QScintilla::QScintilla Qt6::Widgets Qt6::DBus)
