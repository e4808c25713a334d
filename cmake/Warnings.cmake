# Warnings are errors in the normal build; third-party headers come in as system includes.
function(meldra_warnings target)
    if(MSVC)
        # GCC and Clang hold the code to zero warnings; MSVC's own set is shown, not yet made fatal.
        target_compile_options(${target} PRIVATE /W4 /wd4100 /utf-8)
        return()
    endif()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
    if(MELDRA_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
