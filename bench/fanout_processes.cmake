# BroadcastConfig fan-out to 10 and 100 listener processes, each with its own
# router connection, through svc_router and broadcast_test_host (built with
# the tests), beside a raw hub fanning the same records out to N processes.
if(KORVO_BUILD_TESTS)
  korvo_add_bench(bench_fanout_processes
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_fanout_processes.cpp ${CMAKE_CURRENT_LIST_DIR}/bench_relay.cpp
    LIBS korvo_srproxy korvo_generated korvo_stp_transport korvo_runtime)
  target_include_directories(bench_fanout_processes PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_dependencies(bench_fanout_processes svc_router broadcast_test_host)
endif()
