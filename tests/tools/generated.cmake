# Tests of the interface generator and of the generated endpoints.
korvo_add_interface_testkit(korvo_generated_testkit korvo_generated
  ${PROJECT_SOURCE_DIR}/interfaces/ServiceRouter.stp
  ${PROJECT_SOURCE_DIR}/interfaces/WhiteBoard.stp
  ${PROJECT_SOURCE_DIR}/interfaces/MRUService.stp
  ${PROJECT_SOURCE_DIR}/interfaces/WindowRegister.stp
  ${PROJECT_SOURCE_DIR}/interfaces/FileRegistry.stp
  ${PROJECT_SOURCE_DIR}/interfaces/ConfigService.stp
  ${PROJECT_SOURCE_DIR}/interfaces/FileNotify.stp
  ${PROJECT_SOURCE_DIR}/interfaces/FileBroadcast.stp
  ${PROJECT_SOURCE_DIR}/interfaces/KorvoEditor.stp)

korvo_add_test(test_generated
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_generated_roundtrip.cpp
  LIBS korvo_generated_testkit)
