# libFuzzer target for the configuration-file reader (clang only), steering
# into the default-configuration library.
korvo_add_fuzz_target(fuzz_korvo_cfg
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_korvo_cfg.cpp
  LIBS korvo_defaultconfig korvo_whiteboard_client korvo_runtime
  INSTRUMENT korvo_defaultconfig)
