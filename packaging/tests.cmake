# Checks of what gets installed: man pages, completion, the packages.
add_test(NAME man_pages_lint
         COMMAND mandoc -T lint -W all man/dawnstep.8 man/dawnstep-analyze.8
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
add_test(NAME bash_completion
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/completion_test.sh
                 ${CMAKE_SOURCE_DIR}/completion/dawnstep $<TARGET_FILE:dawnstep>)
add_test(NAME man_pages_match_programs
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/man_page_test.sh $<TARGET_FILE:dawnstep>
                 $<TARGET_FILE:dawnstep-analyze> ${CMAKE_SOURCE_DIR})
# Packages are made from the optimised build only: a sanitized program is
# no program to ship.
if(NOT DAWNSTEP_SANITIZE)
  add_test(NAME debian_packages
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package_test.sh ${CMAKE_BINARY_DIR}
                   ${CMAKE_SOURCE_DIR})
  set_tests_properties(debian_packages PROPERTIES TIMEOUT 300)
endif()
