# The file parser with its preprocessor and integer evaluator, the macro
# map and the client interface the host hands to both.
add_library(korvo_ut_parser STATIC
  ${CMAKE_CURRENT_LIST_DIR}/string_parser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ut_macro_map.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ut_client_interface.cpp
  ${CMAKE_CURRENT_LIST_DIR}/simple_integer_evaluator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/simple_preprocessor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ut_file_parser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ut_file_parser_tokens.cpp)
target_link_libraries(korvo_ut_parser PUBLIC korvo_ut_strings korvo_runtime)
