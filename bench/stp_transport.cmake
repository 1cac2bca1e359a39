# Round trip of a small request/reply between two processes through
# STPTransport, beside a raw-socket ping-pong of the same size.
korvo_add_bench(bench_stp_roundtrip
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_stp_roundtrip.cpp
  LIBS korvo_stp_transport korvo_runtime)
# Count the C allocations made on the round-trip path (linked statically).
target_link_options(bench_stp_roundtrip PRIVATE
  -Wl,--wrap=malloc -Wl,--wrap=calloc -Wl,--wrap=realloc)
