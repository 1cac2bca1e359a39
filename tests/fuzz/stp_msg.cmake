# libFuzzer targets for the STP message readers (clang only), steering into
# the network buffer and message libraries.
foreach(target fuzz_ascii_reader fuzz_binary_reader)
  korvo_add_fuzz_target(${target}
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp
    LIBS korvo_stp_msg korvo_runtime
    INSTRUMENT korvo_ut_netbuf korvo_stp_msg)
endforeach()
