# Test registration shared by every test folder.
find_package(GTest REQUIRED)
include(GoogleTest)
find_program(PYTHON3 python3 REQUIRED)

# quorvane_add_gtest(<name> SOURCES <files…> LIBS <libs…> [LABELS <labels…>]):
# one GoogleTest executable, each of its tests registered with CTest. Tests of
# threaded code carry the label "threads" (run again under ThreadSanitizer).
function(quorvane_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  # Shared helpers: #include "support/TempDir.h".
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    QUORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QUORVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if("threads" IN_LIST T_LABELS)
    set_property(GLOBAL APPEND PROPERTY QUORVANE_THREADS_TESTS ${name})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS "${T_LABELS}")
endfunction()

# quorvane_add_pytest(<name> <file.py> [TIMEOUT s]): a Python unittest file
# that runs the real programs, told where they are through the environment.
function(quorvane_add_pytest name file)
  cmake_parse_arguments(T "" "TIMEOUT" "" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name}
    COMMAND ${PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/${file} -v)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QUORVANE_CAPTURE=$<TARGET_FILE:quorvane-capture>;QUORVANE_BRIDGE=$<TARGET_FILE:quorvane>;QUORVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR};QUORVANE_BINARY_DIR=${PROJECT_BINARY_DIR};PYTHONPATH=${PROJECT_SOURCE_DIR}/tests/support;PYTHONDONTWRITEBYTECODE=1;QUORVANE_SANITIZE=${QUORVANE_SANITIZE}")
endfunction()

