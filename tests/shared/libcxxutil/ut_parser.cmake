korvo_add_test(test_ut_parser
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_string_parser.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_simple_integer_evaluator.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_simple_preprocessor.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_ut_file_parser.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_ut_macro_map.cpp
  LIBS korvo_ut_parser)
