# Generated endpoint code: dispatch of decoded ASCII messages and sends over a
# loopback transport pair, in messages per second, with allocations per
# message on the send paths.
korvo_add_bench(bench_generated
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_generated.cpp
  LIBS korvo_generated korvo_stp_channels
  COUNT_ALLOCATIONS)
