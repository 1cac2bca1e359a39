korvo_add_bench(bench_format
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_format.cpp
  LIBS korvo_runtime)
