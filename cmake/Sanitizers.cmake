# TALKGATE_SANITIZE=address,undefined (or thread) instruments every target.
if(TALKGATE_SANITIZE)
  set(_san_flags -fsanitize=${TALKGATE_SANITIZE} -fno-omit-frame-pointer -g)
  if(TALKGATE_SANITIZE MATCHES "undefined")
    list(APPEND _san_flags -fno-sanitize-recover=undefined)
  endif()
  add_compile_options(${_san_flags})
  add_link_options(-fsanitize=${TALKGATE_SANITIZE})
endif()

# Fuzzing instruments every library for coverage; only the fuzz targets link libFuzzer's main.
if(TALKGATE_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TALKGATE_BUILD_FUZZ needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
