# Encode + decode throughput of STP messages, with allocation counts.
korvo_add_bench(bench_stp_msg
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_stp_msg.cpp
  LIBS korvo_stp_msg
  COUNT_ALLOCATIONS)
