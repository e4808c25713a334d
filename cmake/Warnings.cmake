# Warnings are errors in the normal build; third-party headers come in as system includes.
function(meldra_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
    if(MELDRA_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
