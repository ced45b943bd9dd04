# vx_add_test(<name> LABELS <labels...> SOURCES <files...> LIBS <targets...>)
#
# One GoogleTest executable, registered with CTest test by test. Discovery runs at
# test time, so executables that need an X server are only started under it.
function(vx_add_test name)
  cmake_parse_arguments(T "" "" "LABELS;SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE vx_testsupport ${T_LIBS} GTest::gtest)
  set(env "VX_TEST_BINARY_DIR=${CMAKE_BINARY_DIR}" ${T_ENV})
  if(NOT "x11" IN_LIST T_LABELS)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  # The property value is a list; its separators must survive the PROPERTIES parsing.
  string(REPLACE ";" "\\;" env "${env}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABELS}" ENVIRONMENT "${env}" TIMEOUT 300)
endfunction()
