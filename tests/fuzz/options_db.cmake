# libFuzzer target for the options-database reader (clang only), steering
# into the parser and attribute-tree libraries.
korvo_add_fuzz_target(fuzz_options_db
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_options_db.cpp
  LIBS korvo_ut_attrtree
  INSTRUMENT korvo_ut_parser korvo_ut_attrtree)
