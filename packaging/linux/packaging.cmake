# Linux: the .deb and the .tar.gz of the program, and the installer bundle, all made from the install rules.
set(linux ${CMAKE_CURRENT_SOURCE_DIR}/linux)
set(generated ${CMAKE_CURRENT_BINARY_DIR}/linux)

install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/udev/70-meldra-headsets.rules DESTINATION lib/udev/rules.d
    COMPONENT ${MELDRA_COMPONENT})
install(FILES ${linux}/${MELDRA_APP_ID}.desktop DESTINATION share/applications COMPONENT ${MELDRA_COMPONENT})
configure_file(${linux}/${MELDRA_APP_ID}.metainfo.xml.in ${generated}/${MELDRA_APP_ID}.metainfo.xml @ONLY)
install(FILES ${generated}/${MELDRA_APP_ID}.metainfo.xml DESTINATION share/metainfo COMPONENT ${MELDRA_COMPONENT})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/icons/${MELDRA_APP_ID}.svg DESTINATION share/icons/hicolor/scalable/apps
    COMPONENT ${MELDRA_COMPONENT})
foreach(size 48 128 256)
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/icons/${MELDRA_APP_ID}-${size}.png
        DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME ${MELDRA_APP_ID}.png
        COMPONENT ${MELDRA_COMPONENT})
endforeach()
install(FILES ${linux}/copyright DESTINATION share/doc/meldra COMPONENT ${MELDRA_COMPONENT})
install(PROGRAMS ${linux}/sonella-uninstall DESTINATION bin COMPONENT ${MELDRA_PERUSER_COMPONENT} EXCLUDE_FROM_ALL)

# Compressed without names or dates in the header, so that the same sources give the same package.
file(MAKE_DIRECTORY ${generated})
# The version in them comes from the project's.
foreach(source man/Meldra.1 man/meldra-cli.1 man/Installer.1 changelog)
    get_filename_component(name ${source} NAME)
    configure_file(${linux}/${source}.in ${generated}/${name} @ONLY)
    execute_process(COMMAND gzip -9 -n -c ${generated}/${name} OUTPUT_FILE ${generated}/${name}.gz
        RESULT_VARIABLE gzip_result)
    if(NOT gzip_result EQUAL 0)
        message(FATAL_ERROR "gzip ${source} failed")
    endif()
endforeach()
install(FILES ${generated}/Meldra.1.gz ${generated}/meldra-cli.1.gz DESTINATION share/man/man1
    COMPONENT ${MELDRA_COMPONENT})
install(FILES ${generated}/changelog.gz DESTINATION share/doc/meldra COMPONENT ${MELDRA_COMPONENT})
install(FILES ${generated}/Installer.1.gz DESTINATION share/man/man1 COMPONENT ${MELDRA_INSTALLER_COMPONENT}
    EXCLUDE_FROM_ALL)

# Shipped binaries resolve every symbol at start, so that their relocations can be made read-only.
foreach(target Meldra meldra-cli Installer hiddfu)
    target_link_options(${target} PRIVATE -Wl,-z,relro,-z,now)
endforeach()

set(CPACK_GENERATOR DEB TGZ)
# The archive unpacks into one folder of its own.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_DEB_COMPONENT_INSTALL OFF)
set(CPACK_DEBIAN_PACKAGE_NAME meldra)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack puts CPACK_PACKAGE_DESCRIPTION_SUMMARY in front as the synopsis, so this is the long part only.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Finds Sorrel and SorrelPlus wireless headsets and their USB receivers, shows
their firmware versions, updates their firmware and repairs their pairing.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
# Loaded by the QML engine at run time, so no library dependency names them: every module that either
# program imports, and every module those import in turn. QtQuick.Dialogs falls back to a file dialog
# written in QML (Controls 1, PrivateWidgets, the folder list model, settings) when the desktop offers no
# native one. tests/installer/e2e_packages.sh fails when an import is missing here.
set(MELDRA_QML_PACKAGES
    qml-module-qtqml qml-module-qtqml-models2 qml-module-qtqml-workerscript2
    qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-templates2
    qml-module-qtquick-layouts qml-module-qtgraphicaleffects
    qml-module-qtquick-dialogs qml-module-qtquick-controls qml-module-qtquick-privatewidgets
    qml-module-qtquick-extras qml-module-qt-labs-folderlistmodel qml-module-qt-labs-settings)
list(JOIN MELDRA_QML_PACKAGES ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# Both programs extend Qt Quick's accessible items through Qt's private API (app/accessibility.cpp), which
# holds only for the Qt Quick release they were built with; Debian names that release with a virtual package.
string(REPLACE "." "-" _qt_abi "${Qt5Quick_VERSION}")
string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", qtdeclarative-abi-${_qt_abi}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${linux}/postinst ${linux}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/CPackProjectConfig.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "\
if(CPACK_GENERATOR STREQUAL \"DEB\")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
else()
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_COMPONENTS_ALL ${MELDRA_COMPONENT} ${MELDRA_PERUSER_COMPONENT})
endif()
")
include(CPack)

# The installer bundle: Installer with the program's archive in its data/ folder, as the installer expects
# it, and the same as one self-extracting program (what the update service offers for download). Every
# file comes from the install rules, stripped, with no run path into the build folder.
if(NOT CMAKE_BUILD_TYPE STREQUAL "Release")
    message(STATUS "The installer bundle of this ${CMAKE_BUILD_TYPE} build is for tests; "
                   "scripts/package.sh makes the Release one")
endif()
set(bundle ${CMAKE_BINARY_DIR}/installer-bundle)
set(staging ${CMAKE_BINARY_DIR}/installer-package)
set(MELDRA_INSTALLER_RUN ${CMAKE_BINARY_DIR}/Sonella-Installer-${PROJECT_VERSION}.run CACHE INTERNAL
    "The installer bundle as one self-extracting program")
add_custom_target(installer_bundle
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${bundle} ${staging}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${bundle}/data
    COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake -G TGZ
            -B ${staging} -D CPACK_PACKAGE_FILE_NAME=Meldra
    COMMAND ${CMAKE_COMMAND} -E copy ${staging}/Meldra.tar.gz ${bundle}/data/Meldra.tar.gz
    COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --component ${MELDRA_INSTALLER_COMPONENT}
            --prefix ${bundle} --strip
    COMMAND sh ${linux}/make-selfextracting.sh ${linux}/installer-header.sh ${bundle} ${MELDRA_INSTALLER_RUN}
    DEPENDS Meldra meldra-cli Installer hiddfu
    COMMENT "Installer bundle in ${bundle}"
    VERBATIM)
