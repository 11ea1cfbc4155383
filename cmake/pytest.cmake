# quorvel_pytest(NAME <test> TIMEOUT <s> [ENVIRONMENT <var=value>...]): the
# folder's tests under Debian's pytest, named <test>. Debian's own pytest-3,
# since the packages the tests use (selenium, say) are Debian's too; without
# it the test fails saying how to get it.
find_program(QUORVEL_PYTEST NAMES pytest-3 DOC "Debian's pytest (python3-pytest)")

function(quorvel_pytest)
  cmake_parse_arguments(PARSE_ARGV 0 test "" "NAME;TIMEOUT" "ENVIRONMENT")
  if(QUORVEL_PYTEST)
    set(command ${QUORVEL_PYTEST})
  else()
    set(command sh -c "echo 'pytest-3 not found: install python3-pytest (scripts/install-deps.sh)' >&2; exit 1")
  endif()
  add_test(NAME ${test_NAME}
           COMMAND ${command} -q -p no:cacheprovider ${CMAKE_CURRENT_SOURCE_DIR})
  set_tests_properties(${test_NAME} PROPERTIES
    TIMEOUT ${test_TIMEOUT}
    ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;${test_ENVIRONMENT}")
endfunction()
