# korvoctl: the command table and router session (korvo_korvoctl) and the
# program with the router's own subcommands. Services add their subcommand
# files to the program: target_sources(korvoctl PRIVATE <file>) in a
# korvoctl_<service>.cmake fragment of this folder.
add_library(korvo_korvoctl STATIC
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_session.cpp)
target_link_libraries(korvo_korvoctl PUBLIC korvo_srproxy korvo_stp_transport korvo_runtime)

add_executable(korvoctl
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_router_commands.cpp)
target_link_libraries(korvoctl PRIVATE korvo_korvoctl)
