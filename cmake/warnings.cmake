# Warnings every target of ours gets: zov_warnings(target)
function(zov_warnings target)
  # -Wshadow=local is GCC's; clang knows no such form.
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers
                                           $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>)
endfunction()
