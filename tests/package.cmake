# The manual pages against the programs, and the Debian package installed on
# this machine (as root only; never from the sanitizer build).
find_program(FBX_PACKAGE_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(TARGET man_pages AND TARGET ferobrixlan-server AND TARGET ferobrixlan-machine AND FBX_PACKAGE_PYTHON3)
    set(pages ferobrixlan-cli.1=$<TARGET_FILE:ferobrixlan-cli>
              ferobrixlan-server.8=$<TARGET_FILE:ferobrixlan-server>
              ferobrixlan-machine.1=$<TARGET_FILE:ferobrixlan-machine>)
    if(TARGET ferobrixlan)
        list(APPEND pages ferobrixlan.1=$<TARGET_FILE:ferobrixlan>)
    endif()
    add_test(NAME man_pages
        COMMAND ${FBX_PACKAGE_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/package/man_pages_test.py
                ${PROJECT_BINARY_DIR}/docs/man $<TARGET_FILE:ferobrixlan-server> ${pages})
    set_tests_properties(man_pages PROPERTIES TIMEOUT 120)
endif()

# Builds the package (build-package/, kept between runs) and installs it: one
# test at a time on this machine, never from the sanitizer build.
if(NOT FEROBRIXLAN_SANITIZE)
    add_test(NAME package_install COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/package/package_test.sh)
    set_tests_properties(package_install PROPERTIES RUN_SERIAL ON SKIP_RETURN_CODE 77 TIMEOUT 1800)
endif()
