# Protocol logs (STPLog and its file variants).
add_library(korvo_stp_log STATIC ${CMAKE_CURRENT_LIST_DIR}/stp_log.cpp)
target_link_libraries(korvo_stp_log PUBLIC korvo_runtime)
