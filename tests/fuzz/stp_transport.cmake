# libFuzzer target for the transport's read path (clang only). The
# transport library gets coverage instrumentation so the fuzzer can steer
# into it.
if(KORVO_BUILD_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(korvo_transport_fuzz_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=undefined)
  foreach(lib korvo_stp_transport korvo_ut_retry)
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link ${korvo_transport_fuzz_sanitizers}
                           -fno-omit-frame-pointer)
    target_link_options(${lib} INTERFACE -fsanitize=address,undefined)
  endforeach()
  add_executable(fuzz_transport_read ${CMAKE_CURRENT_LIST_DIR}/fuzz_transport_read.cpp)
  target_compile_options(fuzz_transport_read PRIVATE -fsanitize=fuzzer ${korvo_transport_fuzz_sanitizers}
                         -fno-omit-frame-pointer)
  target_link_options(fuzz_transport_read PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_transport_read PRIVATE korvo_stp_transport korvo_runtime)
endif()
