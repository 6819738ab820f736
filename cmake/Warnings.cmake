# Applies the project's warning set to a target.
function(talkgate_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()
