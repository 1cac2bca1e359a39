# GetFiles round trip and AddFile throughput through svc_router and
# the FileRegistry service (in the end-to-end test host), beside a raw TCP relay of the same packet sizes.
if(KORVO_BUILD_TESTS)
  korvo_add_bench(bench_fileregistry
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_fileregistry.cpp ${CMAKE_CURRENT_LIST_DIR}/bench_relay.cpp
    LIBS korvo_srproxy korvo_generated korvo_stp_transport korvo_runtime)
  target_include_directories(bench_fileregistry PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_dependencies(bench_fileregistry svc_router e2e_windows_files_host)
endif()
