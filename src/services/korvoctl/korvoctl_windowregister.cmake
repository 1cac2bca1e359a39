# korvoctl's "windows" subcommand (WindowRegister) and the service
# connection helper the service subcommands share.
target_sources(korvoctl PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_windows.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_service.cpp)
target_link_libraries(korvoctl PRIVATE korvo_generated korvo_ut_idle)
