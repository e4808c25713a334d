# What the programs need beside them on a machine without Qt: hidapi's DLL (the engine's DLL is installed
# with the program) and the Qt runtime with its platform plugin and the QML modules each program's windows
# import, which windeployqt lays out at install time. CPack's WiX generator harvests the installed tree,
# so the .msi carries whatever lands here; the check after windeployqt stops a package without them.
get_target_property(_meldra_qmake Qt5::qmake IMPORTED_LOCATION)
get_filename_component(_meldra_qt_bin "${_meldra_qmake}" DIRECTORY)
find_program(MELDRA_WINDEPLOYQT windeployqt HINTS "${_meldra_qt_bin}")
if(NOT MELDRA_WINDEPLOYQT)
    message(FATAL_ERROR "windeployqt of Qt for Windows was not found beside ${_meldra_qmake}.")
endif()

# MSVC's runtime goes beside the programs; windeployqt would only add its redistributable installer, which
# nothing runs. MinGW's runtime is what windeployqt copies for the Qt DLLs themselves.
set(_meldra_compiler_runtime "")
if(MSVC)
    set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION ${MELDRA_BINDIR})
    set(CMAKE_INSTALL_SYSTEM_RUNTIME_COMPONENT ${MELDRA_COMPONENT})
    include(InstallRequiredSystemLibraries)
    set(_meldra_compiler_runtime --no-compiler-runtime)
endif()

get_target_property(_meldra_hidapi_type hidapi::hidapi TYPE)
if(_meldra_hidapi_type STREQUAL "SHARED_LIBRARY")
    install(FILES $<TARGET_FILE:hidapi::hidapi> DESTINATION ${MELDRA_BINDIR} COMPONENT ${MELDRA_COMPONENT})
endif()
# libsodium from its CMake package says where its DLL is; one found as a bare import library does not, and
# the import check below stops the installation until its DLL is put beside the program.
if(TARGET unofficial-sodium::sodium)
    get_target_property(_meldra_sodium_type unofficial-sodium::sodium TYPE)
    if(_meldra_sodium_type STREQUAL "SHARED_LIBRARY")
        install(FILES $<TARGET_FILE:unofficial-sodium::sodium> DESTINATION ${MELDRA_BINDIR}
                COMPONENT ${MELDRA_COMPONENT})
    endif()
endif()

# meldra_windeploy(PROGRAM name QMLDIR dir DESTINATION dir COMPONENT name [EXCLUDE_FROM_ALL] [NEEDS file...])
# Building on Linux for Windows, the system's DLLs are known by their import libraries in the toolchain.
set(_meldra_objdump "")
set(_meldra_syslibs "")
if(CMAKE_CROSSCOMPILING)
    set(_meldra_objdump "${CMAKE_OBJDUMP}")
    list(GET CMAKE_FIND_ROOT_PATH 0 _meldra_sysroot)
    set(_meldra_syslibs "${_meldra_sysroot}/lib")
endif()
set(_meldra_check_imports ${CMAKE_CURRENT_LIST_DIR}/check-imports.cmake)

# NEEDS: further files (globs, relative to DESTINATION) without which the program must not ship. Then
# every DLL that the program, its DLLs and its plugins import must be beside it or part of Windows.
function(meldra_windeploy)
    cmake_parse_arguments(D "EXCLUDE_FROM_ALL" "PROGRAM;QMLDIR;DESTINATION;COMPONENT" "NEEDS" ${ARGN})
    set(_dir "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${D_DESTINATION}")
    set(_exclude "")
    if(D_EXCLUDE_FROM_ALL)
        set(_exclude EXCLUDE_FROM_ALL)
    endif()
    install(CODE "
        execute_process(COMMAND \"${MELDRA_WINDEPLOYQT}\" --qmldir \"${D_QMLDIR}\" --no-translations ${_meldra_compiler_runtime}
                                --no-system-d3d-compiler --no-opengl-sw --dir \"${_dir}\"
                                \"${_dir}/${D_PROGRAM}.exe\"
                        RESULT_VARIABLE _rc)
        if(NOT _rc EQUAL 0)
            message(FATAL_ERROR \"windeployqt failed for ${D_PROGRAM}.exe (\${_rc})\")
        endif()
        foreach(_needed Qt5Core*.dll Qt5Gui*.dll Qt5Qml*.dll Qt5Quick*.dll platforms/qwindows*.dll
                        QtQuick.2/qmldir QtQuick/Controls.2/qmldir ${D_NEEDS})
            file(GLOB _found \"${_dir}/\${_needed}\")
            if(NOT _found)
                message(FATAL_ERROR \"${D_PROGRAM}.exe would ship without \${_needed}\")
            endif()
        endforeach()
        set(MELDRA_CHECK_DIR \"${_dir}\")
        file(GLOB_RECURSE MELDRA_CHECK_FILES \"${_dir}/*.dll\")
        list(APPEND MELDRA_CHECK_FILES \"${_dir}/${D_PROGRAM}.exe\")
        set(MELDRA_CHECK_OBJDUMP \"${_meldra_objdump}\")
        set(MELDRA_CHECK_SYSLIBS \"${_meldra_syslibs}\")
        include(\"${_meldra_check_imports}\")"
        COMPONENT ${D_COMPONENT} ${_exclude})
endfunction()
