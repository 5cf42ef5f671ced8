# Warnings for project code: everything useful. Warnings are errors only when
# DOVECREST_WERROR is on (the test build, scripts/test.sh): a user's build with
# another compiler or optimisation level must never fail on a new warning.
#
# GCC 12's -Wrestrict misfires inside libstdc++'s own string code (operator+
# and replace, inlined at -O2 and above), never on a real overlap in ours, so it
# is off for GCC before 13. -Wstringop-overflow reports similar false positives
# there and stays a warning even with DOVECREST_WERROR.
option(DOVECREST_WERROR "Treat compiler warnings as errors (test builds)" OFF)

function(project_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter
    $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-restrict>)
  if(DOVECREST_WERROR)
    target_compile_options(${target} PRIVATE -Werror
      $<$<CXX_COMPILER_ID:GNU>:-Wno-error=stringop-overflow>)
  endif()
endfunction()
