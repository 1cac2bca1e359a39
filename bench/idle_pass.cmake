# One pass of the idle notifier with 4 and 100 socket listeners, one of them
# readable per pass, with the allocations per pass.
korvo_add_bench(bench_idle_pass
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_idle_pass.cpp
  LIBS korvo_ut_idle korvo_runtime
  COUNT_ALLOCATIONS)
