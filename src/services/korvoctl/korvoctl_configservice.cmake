# korvoctl's "config" subcommand (the configuration broadcast service).
# Uses korvoctl_service.cpp, which the windowregister fragment adds.
target_sources(korvoctl PRIVATE ${CMAKE_CURRENT_LIST_DIR}/korvoctl_config.cpp)
target_link_libraries(korvoctl PRIVATE korvo_generated korvo_ut_idle)
