korvo_add_bench(bench_strings
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_strings.cpp
  LIBS korvo_ut_strings)
