# vx_add_test(<name> LABELS <labels...> SOURCES <files...> LIBS <targets...>)
#
# One GoogleTest executable, registered with CTest test by test. Discovery runs at
# test time, so executables that need an X server are only started under it.
function(vx_add_test name)
  cmake_parse_arguments(T "" "" "LABELS;SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE vx_testsupport ${T_LIBS} GTest::gtest)
  # Wayland tests run (and are listed) each inside a headless Wayland desktop of their own.
  if("wayland" IN_LIST T_LABELS)
    set_target_properties(${name} PROPERTIES
      CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tests/wayland/run-session)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    TEST_LIST ${name}_TESTS
    PROPERTIES TIMEOUT 300)

  # The discovery module flattens list-valued properties (several labels, several
  # variables) into separate property names, so the labels and the environment are
  # set by a second include file that runs after the discovered tests are defined.
  # Tests without the X server run on Qt's offscreen platform.
  # X11 tests take the X11 path even when started from a Wayland desktop.
  if("x11" IN_LIST T_LABELS)
    set(env "WAYLAND_DISPLAY=;XDG_SESSION_TYPE=x11")
  elseif("wayland" IN_LIST T_LABELS)
    set(env "QT_QPA_PLATFORM=wayland")
  else()
    set(env "QT_QPA_PLATFORM=offscreen")
  endif()
  set(props "${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake")
  file(WRITE "${props}"
    "foreach(t IN LISTS ${name}_TESTS)\n"
    "  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${T_LABELS}\" ENVIRONMENT \"${env}\")\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${props}")
endfunction()
