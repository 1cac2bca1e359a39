# Retry handlers: the waiting policy (time-out, conditions, process deadline)
# and the millisecond clock.
add_library(korvo_ut_retry STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ut_retry_handler.cpp)
