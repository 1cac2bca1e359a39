# The idle notifier behind the event loop, the one readiness call it makes,
# and the self-pipe that wakes it.
add_library(korvo_ut_idle STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ut_idle_notifier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ut_select.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ut_wake_pipe.cpp)
# The notifier is deleted at exit through delete_at_exit (services/state).
target_link_libraries(korvo_ut_idle PUBLIC korvo_deleteable PRIVATE korvo_ut_retry)
