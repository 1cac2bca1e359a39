# The active-services file and its lock (part of the router client library).
target_sources(korvo_srproxy PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/activeservices_manager.cpp)
target_link_libraries(korvo_srproxy PRIVATE PkgConfig::NETTLE korvo_ut_attrtree korvo_runtime)
