# The send walk of the processing strings against sed (bench/rules.sh).
add_executable(apply_rule ${CMAKE_CURRENT_LIST_DIR}/apply_rule.cpp)
target_link_libraries(apply_rule PRIVATE fbx_codes fbx_settings)
