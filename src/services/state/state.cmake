# The process frame: deferred deletion, the event loop with its router seam,
# and the program entry svc_statemgr.

# Kept apart from the loop because the idle notifier (libcxxutil) needs it
# too, and the loop needs the notifier.
add_library(korvo_deleteable STATIC ${CMAKE_CURRENT_LIST_DIR}/deleteable.cpp)

add_library(korvo_state STATIC
  ${CMAKE_CURRENT_LIST_DIR}/svc_eventloop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/svc_routerlink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/svc_signals.cpp)
target_link_libraries(korvo_state PUBLIC korvo_deleteable korvo_ut_idle PRIVATE korvo_ut_retry korvo_runtime)

add_executable(svc_statemgr ${CMAKE_CURRENT_LIST_DIR}/svc_statemgr.cpp)
target_link_libraries(svc_statemgr PRIVATE korvo_srproxy korvo_state korvo_runtime)
# The state files main loads and saves (statefiles.h).
target_link_libraries(svc_statemgr PRIVATE korvo_mrustate korvo_mrustate_saver)
# The stale temporary files of WhiteBoard group files, removed at start-up.
target_link_libraries(svc_statemgr PRIVATE korvo_whiteboard_group)

# The service modules (KORVO_STATEMGR_MODULES, src/services/CMakeLists.txt)
# exist only as process-wide objects built before main: nothing in main
# refers to them, so each korvo_<module>_module brings them in whole. Their
# construction order comes from their module ranks, not from this list.
foreach(module ${KORVO_STATEMGR_MODULES})
  target_link_libraries(svc_statemgr PRIVATE korvo_${module}_module)
endforeach()

# The default configuration, which main connects at start-up; linked whole
# so that every declared set of defaults is built before main.
target_link_libraries(svc_statemgr PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvo_defaultconfig>")
