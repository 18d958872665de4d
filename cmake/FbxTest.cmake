# fbx_add_gtest(NAME SOURCES... LIBS ... [WRAP CALLS...]): one GoogleTest
# executable per unit, registered with CTest under its own name. WRAP links
# the system calls named with -Wl,--wrap, so that a test can make them fail.
function(fbx_add_gtest name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;WRAP" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    foreach(call IN LISTS T_WRAP)
        target_link_options(${name} PRIVATE -Wl,--wrap=${call})
    endforeach()
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
endfunction()

# fbx_add_qtest(NAME SOURCES... LIBS ...): a Qt Test executable for a window,
# run offscreen and registered with CTest.
function(fbx_add_qtest name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE ${T_LIBS} Qt6::Test Qt6::Widgets)
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_QPA_FONTDIR=/usr/share/fonts")
endfunction()

# fbx_add_pytest(NAME SCRIPT [ARGS...]): an end-to-end suite in Python (Debian's
# python3, which has python3-serial), registered with CTest; ARGS may name
# programs with $<TARGET_FILE:...>.
find_program(FBX_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(FBX_PYTHON3 NAMES python3)
function(fbx_add_pytest name script)
    if(FBX_PYTHON3)
        add_test(NAME ${name} COMMAND ${FBX_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/${script} ${ARGN})
        set_tests_properties(${name} PROPERTIES TIMEOUT 600)
    endif()
endfunction()
