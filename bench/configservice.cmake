# BroadcastConfig fan-out to 10 and 100 listeners through svc_router and the
# configuration service (in broadcast_test_host, built with the tests),
# beside a raw TCP relay and fan-out process carrying the same bytes.
if(KORVO_BUILD_TESTS)
  korvo_add_bench(bench_configservice
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_configservice.cpp ${CMAKE_CURRENT_LIST_DIR}/bench_relay.cpp
    LIBS korvo_srproxy korvo_generated korvo_stp_transport korvo_runtime)
  target_include_directories(bench_configservice PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_dependencies(bench_configservice svc_router broadcast_test_host)
endif()
