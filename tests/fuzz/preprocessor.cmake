# libFuzzer target for the preprocessor and its integer evaluator through
# the file parser (clang only).
korvo_add_fuzz_target(fuzz_preprocessor
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_preprocessor.cpp
  LIBS korvo_ut_parser korvo_runtime
  INSTRUMENT korvo_ut_parser)
