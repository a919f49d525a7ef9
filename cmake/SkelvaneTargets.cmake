# One function per kind of target.

# skelvane_add_test(<name> SOURCES <files...> [LIBS <targets...>] [WIDGETS])
# Builds a GoogleTest executable linked with the core and registers its tests
# with CTest. WIDGETS runs it on Qt's offscreen platform.
function(skelvane_add_test name)
  cmake_parse_arguments(ARG "WIDGETS" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE skelvane_core skelvane_test_support GTest::gtest GTest::gtest_main ${ARG_LIBS})
  set(env "SKELVANE_TESTDATA=${SKELVANE_TESTDATA_DIR}")
  if(ARG_WIDGETS)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  gtest_discover_tests(${name} PROPERTIES ENVIRONMENT "${env}" DISCOVERY_TIMEOUT 60)
endfunction()

# skelvane_add_bench(<name> SOURCES <files...>)
function(skelvane_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE skelvane_core skelvane_bench_support benchmark::benchmark ${ARG_LIBS})
endfunction()
