# One function per kind of target.

# skelvane_add_test(<name> SOURCES <files...> [LIBS <targets...>] [WIDGETS])
# Builds a GoogleTest executable linked with the core and registers its tests
# with CTest. WIDGETS links the desktop program's windows (and the desktop
# layer beneath them) and Qt Test, starts a QApplication before the tests and
# runs them on Qt's offscreen platform.
function(skelvane_add_test name)
  cmake_parse_arguments(ARG "WIDGETS" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE skelvane_core skelvane_test_support GTest::gtest ${ARG_LIBS})
  set(env "SKELVANE_TESTDATA=${SKELVANE_TESTDATA_DIR}")
  if(ARG_WIDGETS)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE skelvane_app skelvane_widget_test_support Qt6::Test)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  gtest_discover_tests(${name} PROPERTIES ENVIRONMENT "${env}" DISCOVERY_TIMEOUT 60)
endfunction()

# skelvane_add_bench(<name> SOURCES <files...>)
function(skelvane_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE skelvane_core skelvane_bench_support benchmark::benchmark ${ARG_LIBS})
endfunction()
