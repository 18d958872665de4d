# The built-in editor: the editor window, its search dialog, the G-code
# colouring and the toolbar images.
add_library(fbx_editor_window STATIC
    EditorWindow.cpp EditorWindow.h
    SearchDialog.cpp SearchDialog.h
    GcodeLexer.cpp GcodeLexer.h
    EditorImages.cpp EditorImages.h)
target_include_directories(fbx_editor_window PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
# AppContext.h brings in the serial layer's SerialPort.h.
target_link_libraries(fbx_editor_window PUBLIC fbx_ui fbx_editor fbx_serial QScintilla::QScintilla)
