# libFuzzer targets for the STP message readers (clang only). The message
# libraries get coverage instrumentation so the fuzzer can steer into them;
# their users then link the sanitizer runtimes too.
if(KORVO_BUILD_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(korvo_fuzz_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=undefined)
  foreach(lib korvo_ut_netbuf korvo_stp_msg)
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link ${korvo_fuzz_sanitizers}
                           -fno-omit-frame-pointer)
    target_link_options(${lib} INTERFACE -fsanitize=address,undefined)
  endforeach()
  foreach(target fuzz_ascii_reader fuzz_binary_reader)
    add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer ${korvo_fuzz_sanitizers}
                           -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${target} PRIVATE korvo_stp_msg korvo_runtime)
  endforeach()
endif()
