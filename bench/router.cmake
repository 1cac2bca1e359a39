# Round trips and one-way throughput between two plugins through svc_router
# (RouterEcho, served by the test provider program), beside a raw TCP relay
# of the same packet sizes. Needs the router test kit (built with the tests).
if(KORVO_BUILD_TESTS)
  korvo_add_bench(bench_router
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_router.cpp
    LIBS korvo_router_testkit korvo_stp_msg korvo_runtime)
  add_dependencies(bench_router svc_router router_test_provider)
endif()
