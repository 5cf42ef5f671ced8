# Warnings for project code: everything useful, and warnings are errors.
# GCC 12 reports -Wrestrict and -Wstringop-overflow false positives inside
# libstdc++'s string code at -O3; those two stay warnings.
function(project_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-unused-parameter
    $<$<CXX_COMPILER_ID:GNU>:-Wno-error=restrict -Wno-error=stringop-overflow>)
endfunction()
