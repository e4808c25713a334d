# Adds every source of a core subsystem folder to meldracore. Windows-only code lives in win/ subfolders,
# Linux-only code in linux/ subfolders; each is compiled only on its own platform.
function(meldra_core_sources)
    file(GLOB _common CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    if(WIN32)
        file(GLOB _platform CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/win/*.h)
    else()
        file(GLOB _platform CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/linux/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/linux/*.h)
    endif()
    target_sources(meldracore PRIVATE ${_common} ${_platform})
endfunction()
