# The idle notifier behind the event loop, and the one readiness call it makes.
add_library(korvo_ut_idle STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ut_idle_notifier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ut_select.cpp)
# The notifier is deleted at exit through delete_at_exit (services/state).
target_link_libraries(korvo_ut_idle PUBLIC korvo_deleteable PRIVATE korvo_ut_retry)
