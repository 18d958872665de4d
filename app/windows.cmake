# The main window and the dialogs it opens (library fbx_windows), and the
# program ferobrixlan.

add_library(fbx_windows STATIC
    AboutWindow.cpp AboutWindow.h
    DataFiles.cpp DataFiles.h
    InstructionWindow.cpp InstructionWindow.h
    LocalText.h
    MainWindow.cpp MainWindow.h
    PathChoice.cpp PathChoice.h
    PathDialog.cpp PathDialog.h
    ProcessingDialog.cpp ProcessingDialog.h
    SettingsDialog.cpp SettingsDialog.h
    ShellMessages.cpp ShellMessages.h
    Startup.cpp Startup.h)
target_include_directories(fbx_windows PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(fbx_windows PUBLIC fbx_ui fbx_settings fbx_serial Qt6::Widgets)
target_compile_definitions(fbx_windows PRIVATE
    FEROBRIXLAN_VERSION="${PROJECT_VERSION}"
    FEROBRIXLAN_DATADIR="${FEROBRIXLAN_DATADIR}")
if(NOT FEROBRIXLAN_PACKAGE)
    target_compile_definitions(fbx_windows PRIVATE
        FEROBRIXLAN_SOURCE_ASSETS="${CMAKE_CURRENT_SOURCE_DIR}/assets")
endif()
# The manual and the icon are built in; the pictures are files beside them.
qt_add_resources(fbx_windows fbx_windows_assets
    PREFIX /ferobrixlan
    BASE assets
    FILES assets/ferobrixlan-manual.txt assets/ferobrixlan-128.png)

add_executable(ferobrixlan main.cpp)
target_link_libraries(ferobrixlan PRIVATE fbx_windows fbx_transfer_window fbx_editor_window)

# Installed so that an operator starts the program from the desktop's menu;
# the pictures and the manual go to share/ferobrixlan, where the program looks
# after its start-up directory.
set(FBX_ASSETS ${CMAKE_CURRENT_SOURCE_DIR}/assets)
install(TARGETS ferobrixlan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES
    ${FBX_ASSETS}/brix1.bmp ${FBX_ASSETS}/brix2.bmp ${FBX_ASSETS}/brix3.bmp
    ${FBX_ASSETS}/brix4.bmp ${FBX_ASSETS}/brix5.bmp ${FBX_ASSETS}/brix6.bmp
    ${FBX_ASSETS}/ferobrixlan-manual.txt
    DESTINATION ${CMAKE_INSTALL_DATADIR}/ferobrixlan)
install(FILES ${FBX_ASSETS}/ferobrixlan.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 48 64 128)
    install(FILES ${FBX_ASSETS}/ferobrixlan-${size}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
        RENAME ferobrixlan.png)
endforeach()
