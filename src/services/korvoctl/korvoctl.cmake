# korvoctl: the command table and router session (korvo_korvoctl) and the
# program with the router's own subcommands. Services add their subcommand
# files to the program: target_sources(korvoctl PRIVATE <file>) in a
# korvoctl_<service>.cmake fragment of this folder.
add_library(korvo_korvoctl STATIC
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_completion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_session.cpp)
target_link_libraries(korvo_korvoctl PUBLIC korvo_srproxy korvo_stp_transport korvo_runtime)

add_executable(korvoctl
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_router_commands.cpp)
target_link_libraries(korvoctl PRIVATE korvo_korvoctl)

# The bash completion script, printed by korvoctl itself from its command
# table once it is built, and installed where bash-completion looks.
include(GNUInstallDirs)
set(KORVOCTL_COMPLETION ${CMAKE_BINARY_DIR}/share/korvoctl.bash)
add_custom_command(OUTPUT ${KORVOCTL_COMPLETION}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share
  COMMAND $<TARGET_FILE:korvoctl> --completion bash > ${KORVOCTL_COMPLETION}
  DEPENDS korvoctl
  COMMENT "korvoctl bash completion")
add_custom_target(korvoctl_completion ALL DEPENDS ${KORVOCTL_COMPLETION})
install(FILES ${KORVOCTL_COMPLETION}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME korvoctl)
