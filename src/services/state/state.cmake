# The program entry of svc_statemgr.
add_executable(svc_statemgr ${CMAKE_CURRENT_LIST_DIR}/svc_statemgr.cpp)
