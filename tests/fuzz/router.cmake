# libFuzzer target for the services file of svc_router (clang only),
# steering into the router library and the options-database reader.
korvo_add_fuzz_target(fuzz_router_services
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_router_services.cpp
  LIBS korvo_router korvo_runtime
  INSTRUMENT korvo_router korvo_ut_parser korvo_ut_attrtree)
