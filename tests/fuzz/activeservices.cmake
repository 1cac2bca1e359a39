# libFuzzer target for the active-services file as a client reads it (clang
# only), steering into the router client library and the options-database
# reader.
korvo_add_fuzz_target(fuzz_active_services
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_active_services.cpp
  LIBS korvo_srproxy korvo_runtime
  INSTRUMENT korvo_srproxy korvo_ut_parser korvo_ut_attrtree)
