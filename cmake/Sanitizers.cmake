# Sanitizer builds apply to every target, so the tests and the code under test agree.
if(DOORWARDEN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "Fuzz builds need clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(DOORWARDEN_ASAN)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  add_compile_definitions(DOORWARDEN_THREAD_CHECKS)
  # The instrumentation makes GCC's flow analysis report uninitialised values that are not
  # (seen in libstdc++'s <regex>).
  add_compile_options(-Wno-maybe-uninitialized)
elseif(DOORWARDEN_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  add_compile_definitions(DOORWARDEN_THREAD_CHECKS)
endif()
