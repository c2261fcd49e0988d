# Compiler settings every target of the project shares.
function(doorwarden_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion -Wnon-virtual-dtor)
  if(DOORWARDEN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
