# Round trip of a small request/reply between two processes through
# STPTransport, beside a raw-socket ping-pong of the same size, with the
# allocations per round trip.
korvo_add_bench(bench_stp_roundtrip
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_stp_roundtrip.cpp
  LIBS korvo_stp_transport korvo_runtime
  COUNT_ALLOCATIONS)
