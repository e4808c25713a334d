# Windows: the program's .msi (CPack's WiX generator), the installer bundle, Installer.exe with the
# package in its data\ folder, as the installer expects it, and the bundle as one file that unpacks and
# runs it (Sonella-Installer-<version>.exe): what the update service offers and what gets signed.
set(CPACK_GENERATOR WIX)
set(CPACK_WIX_UPGRADE_GUID "3F6A9E2D-8B41-4C7E-A05D-6E1B9C2F4A87")
if(EXISTS ${CMAKE_SOURCE_DIR}/app/meldra.ico)
    set(CPACK_WIX_PRODUCT_ICON ${CMAKE_SOURCE_DIR}/app/meldra.ico)
endif()
set(CPACK_WIX_PROGRAM_MENU_FOLDER Sonella)
set(CPACK_WIX_PATCH_FILE ${CMAKE_CURRENT_SOURCE_DIR}/windows/wix-patch.xml)
# Per user by default, per machine with ALLUSERS=1 (docs/installer.md). CMake 3.25 has no install scope
# setting of its own, so the product's source is a template of ours.
set(CPACK_WIX_TEMPLATE ${CMAKE_CURRENT_SOURCE_DIR}/windows/wix-template.xml.in)
set(CPACK_MELDRA_WIX_SCOPE ${CMAKE_CURRENT_SOURCE_DIR}/windows/sonella-scope.wxi)
# Otherwise the dialog shows CMake's own licence.
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/windows/license.txt)
set(CPACK_PACKAGE_EXECUTABLES Meldra "Sonella")
include(CPack)

add_subdirectory(windows/setup)

set(bundle ${CMAKE_BINARY_DIR}/installer-bundle)
set(staging ${CMAKE_BINARY_DIR}/installer-package)
add_custom_target(installer_bundle
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${bundle} ${staging}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${bundle}/data
    COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake -G WIX
            -B ${staging} -D CPACK_PACKAGE_FILE_NAME=Meldra
    COMMAND ${CMAKE_COMMAND} -E copy ${staging}/Meldra.msi ${bundle}/data/Meldra.msi
    COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --component ${MELDRA_INSTALLER_COMPONENT}
            --prefix ${bundle} --strip
    COMMAND ${MELDRA_MAKE_SETUP} $<TARGET_FILE:setupstub> ${bundle}
            ${CMAKE_BINARY_DIR}/Sonella-Installer-${PROJECT_VERSION}.exe
    DEPENDS Meldra Installer hiddfu setupstub
    COMMENT "Installer bundle in ${bundle}"
    VERBATIM)
