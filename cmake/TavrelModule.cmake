# tavrel_module(<name> [DEPS <targets>...] [TEST_DEPS <targets>...]
#                [SOURCES <files>...] [TESTS <files>...] [EXCLUDE <files>...])
#
# Builds the folder's sources into library <name> (every .cpp except
# *_test.cpp, *_fuzz.cpp and *_bench.cpp) and, when the folder has tests,
# the executable <name>_tests registered with CTest. Include paths are
# relative to the repository root: #include "platform/File.h".
# A folder that holds two libraries names the files of one with SOURCES and
# TESTS, and leaves them out of the other with EXCLUDE.
function(tavrel_module name)
  cmake_parse_arguments(TM "" "" "DEPS;TEST_DEPS;SOURCES;TESTS;EXCLUDE" ${ARGN})
  if(TM_SOURCES OR TM_TESTS)
    list(TRANSFORM TM_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    list(TRANSFORM TM_TESTS PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    set(all_sources ${TM_SOURCES})
    set(test_sources ${TM_TESTS})
  else()
    file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  endif()
  if(TM_EXCLUDE)
    list(TRANSFORM TM_EXCLUDE PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    list(REMOVE_ITEM all_sources ${TM_EXCLUDE})
    list(REMOVE_ITEM test_sources ${TM_EXCLUDE})
  endif()
  set(lib_sources ${all_sources})
  list(FILTER lib_sources EXCLUDE REGEX "_(test|fuzz|bench)\\.cpp$")
  list(FILTER lib_sources EXCLUDE REGEX "/main\\.cpp$")
  if(lib_sources)
    add_library(${name} STATIC ${lib_sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${TM_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${TM_DEPS})
  endif()
  if(test_sources)
    add_executable(${name}_tests ${test_sources})
    target_link_libraries(${name}_tests PRIVATE ${name} ${TM_TEST_DEPS}
                          tavrel_testsupport GTest::gtest_main GTest::gmock)
    gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST
                         PROPERTIES TIMEOUT 300)
  endif()
endfunction()
