# Warnings for project code: everything useful, and warnings are errors.
function(project_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-unused-parameter)
endfunction()
