# The evaluator's expression table is written at build time into the build
# tree (gen_eval_cases.cmake); the test compiles it as C++ to get the values.
set(eval_cases_dir ${CMAKE_CURRENT_BINARY_DIR}/ut_parser_generated)
add_custom_command(OUTPUT ${eval_cases_dir}/eval_cases.inc
  COMMAND ${CMAKE_COMMAND} -DOUT=${eval_cases_dir}/eval_cases.inc
          -P ${CMAKE_CURRENT_LIST_DIR}/gen_eval_cases.cmake
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/gen_eval_cases.cmake
  COMMENT "Generating the evaluator's expression table")
korvo_add_test(test_ut_parser
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_string_parser.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_simple_integer_evaluator.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_simple_preprocessor.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_ut_file_parser.cpp
          ${eval_cases_dir}/eval_cases.inc
  LIBS korvo_ut_parser)
target_include_directories(test_ut_parser PRIVATE ${eval_cases_dir})
