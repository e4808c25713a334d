# Stops an installation whose programs import a DLL that is neither beside them nor part of Windows, so
# that no package is built that starts only on the machine that built it (a libsodium or zlib linked as a
# DLL, a compiler runtime). Included by the install code with:
#   MELDRA_CHECK_DIR       the installed folder
#   MELDRA_CHECK_FILES     the programs and DLLs in it to follow
#   MELDRA_CHECK_OBJDUMP   a cross build's objdump (empty on Windows)
#   MELDRA_CHECK_SYSLIBS   a cross build's folder of import libraries of the system (empty on Windows)
get_filename_component(MELDRA_CHECK_DIR "${MELDRA_CHECK_DIR}" REALPATH)
if(MELDRA_CHECK_OBJDUMP)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM "windows+pe")
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL "objdump")
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${MELDRA_CHECK_OBJDUMP}")
endif()
file(GET_RUNTIME_DEPENDENCIES
    EXECUTABLES ${MELDRA_CHECK_FILES}
    DIRECTORIES "${MELDRA_CHECK_DIR}"
    PRE_EXCLUDE_REGEXES "^[Aa][Pp][Ii]-[Mm][Ss]-" "^[Ee][Xx][Tt]-[Mm][Ss]-"
    POST_EXCLUDE_REGEXES "[/\\\\][Ss][Yy][Ss][Tt][Ee][Mm]32[/\\\\]"
    RESOLVED_DEPENDENCIES_VAR _meldra_resolved
    UNRESOLVED_DEPENDENCIES_VAR _meldra_unresolved)
set(_meldra_missing "")
foreach(_dll IN LISTS _meldra_resolved)
    # Found somewhere on the build machine (PATH, a Qt or vcpkg folder) is not found on the user's.
    file(RELATIVE_PATH _rel "${MELDRA_CHECK_DIR}" "${_dll}")
    if(_rel MATCHES "^\\.\\./")
        list(APPEND _meldra_missing "${_dll}")
    endif()
endforeach()
foreach(_dll IN LISTS _meldra_unresolved)
    # A cross build has no system folder to look in; a DLL of Windows has an import library in the
    # toolchain's own (kernel32.dll: libkernel32.a), a library's DLL does not (zlib1.dll, libsodium-26.dll).
    string(TOLOWER "${_dll}" _name)
    string(REGEX REPLACE "\\.dll$" "" _name "${_name}")
    if(NOT MELDRA_CHECK_SYSLIBS OR NOT EXISTS "${MELDRA_CHECK_SYSLIBS}/lib${_name}.a")
        list(APPEND _meldra_missing "${_dll}")
    endif()
endforeach()
if(_meldra_missing)
    list(JOIN _meldra_missing ", " _meldra_missing)
    message(FATAL_ERROR "Imported but not shipped in ${MELDRA_CHECK_DIR}: ${_meldra_missing}")
endif()
