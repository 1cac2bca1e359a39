# The owner uid of a loopback connection's other end (socket diagnostics).
add_library(korvo_ut_peer_uid STATIC ${CMAKE_CURRENT_LIST_DIR}/ut_peer_uid.cpp)
