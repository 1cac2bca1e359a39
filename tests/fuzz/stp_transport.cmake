# libFuzzer target for the transport's read path (clang only), steering into
# the transport and retry-handler libraries.
korvo_add_fuzz_target(fuzz_transport_read
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_transport_read.cpp
  LIBS korvo_stp_transport korvo_runtime
  INSTRUMENT korvo_stp_transport korvo_ut_retry)
