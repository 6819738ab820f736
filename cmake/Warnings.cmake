# Applies the project's warning set to a target. TALKGATE_WERROR=ON (the CI builds of
# scripts/test) makes every warning an error, so that none creeps in unseen.
option(TALKGATE_WERROR "Treat compiler warnings as errors" OFF)

function(talkgate_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(TALKGATE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
