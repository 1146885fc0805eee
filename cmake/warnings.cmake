# Warnings every target of ours gets: zov_warnings(target)
function(zov_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow=local -Wno-missing-field-initializers)
endfunction()
