# vexil_library(NAME [WINDOWS_ONLY] SOURCES ... [LIBS ...])
#   A static library of our own code, with our warnings (and sanitizers in the native build).
function(vexil_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(${name} PUBLIC ${ARG_LIBS} PRIVATE vexil_warnings vexil_sanitize)
  if((VEXIL_SANITIZE OR VEXIL_TSAN) AND NOT VEXIL_WINDOWS)
    target_link_libraries(${name} INTERFACE vexil_sanitize)
  endif()
endfunction()

# vexil_test(NAME SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT seconds] [RUN_SERIAL])
#   A GoogleTest program registered with ctest as one test. In the Windows build ctest runs it
#   under Wine (CMAKE_CROSSCOMPILING_EMULATOR).
function(vexil_test name)
  cmake_parse_arguments(ARG "RUN_SERIAL" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include
                                             ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock vexil_warnings
                                        vexil_sanitize)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  if(ARG_RUN_SERIAL)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
  if(NOT VEXIL_WINDOWS)
    # The connector's log files of a native test run land in the build tree.
    set_tests_properties(${name} PROPERTIES ENVIRONMENT
                         "VEXILCONN_LOG_DIR=${CMAKE_BINARY_DIR}/test-logs")
  endif()
endfunction()
