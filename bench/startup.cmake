# Start-up of the window program against a bare QMainWindow (startup_bench).
if(TARGET fbx_windows)
    add_executable(startup_bench ${CMAKE_CURRENT_LIST_DIR}/startup_bench.cpp)
    target_link_libraries(startup_bench PRIVATE fbx_windows)
endif()
