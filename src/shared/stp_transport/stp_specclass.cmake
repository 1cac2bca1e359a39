# STPSpecClass: the protocol endpoint base class (negotiation, receive path,
# replies, up/down state, sender helpers for generated classes).
add_library(korvo_stp_specclass STATIC
  ${CMAKE_CURRENT_LIST_DIR}/stp_specclass.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_specclass_negotiate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_specclass_receive.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_specclass_send.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_speclog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_fields.cpp)
target_link_libraries(korvo_stp_specclass PUBLIC korvo_stp_transport korvo_stp_msg korvo_stp_log korvo_ut_strings korvo_ut_retry korvo_runtime)
