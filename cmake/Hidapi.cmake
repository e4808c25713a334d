# The real hidapi under the io layer and the engine, as the target meldra_hidapi_backend.
#   Linux:   Debian's libhidapi-hidraw, through pkg-config.
#   Windows: hidapi's own CMake package where one is installed; otherwise hidapi built from its source,
#            which the node-hid package of the npm registry carries in its hidapi/ folder. npm fetches
#            that package into the build folder when the build is configured; nothing of it is kept in
#            the repository.
set(MELDRA_NODE_HID_VERSION 3.4.0 CACHE STRING "node-hid release whose hidapi/ folder is built on Windows")

if(NOT WIN32)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(HIDAPI_HIDRAW REQUIRED IMPORTED_TARGET hidapi-hidraw)
    add_library(meldra_hidapi_backend INTERFACE)
    target_link_libraries(meldra_hidapi_backend INTERFACE PkgConfig::HIDAPI_HIDRAW)
    return()
endif()

add_library(meldra_hidapi_backend INTERFACE)
find_package(hidapi 0.10 CONFIG QUIET)
if(TARGET hidapi::hidapi)
    message(STATUS "hidapi: package ${hidapi_DIR}")
    target_link_libraries(meldra_hidapi_backend INTERFACE hidapi::hidapi)
    return()
endif()

set(_meldra_node_hid ${CMAKE_BINARY_DIR}/_deps/node-hid-${MELDRA_NODE_HID_VERSION})
if(NOT EXISTS ${_meldra_node_hid}/package/hidapi/CMakeLists.txt)
    find_program(MELDRA_NPM npm)
    if(NOT MELDRA_NPM)
        message(FATAL_ERROR "hidapi for Windows: no hidapi CMake package was found (hidapi_DIR), and npm, "
                            "which would fetch hidapi's source in node-hid ${MELDRA_NODE_HID_VERSION}, is missing.")
    endif()
    file(MAKE_DIRECTORY ${_meldra_node_hid})
    # npm checks the tarball against the registry's integrity record before it writes it.
    execute_process(
        COMMAND ${MELDRA_NPM} pack --silent node-hid@${MELDRA_NODE_HID_VERSION}
        WORKING_DIRECTORY ${_meldra_node_hid}
        RESULT_VARIABLE _npm_result
        OUTPUT_VARIABLE _npm_tarball
        ERROR_VARIABLE _npm_error
        OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT _npm_result EQUAL 0 OR NOT EXISTS ${_meldra_node_hid}/${_npm_tarball})
        message(FATAL_ERROR "hidapi for Windows: npm could not fetch node-hid@${MELDRA_NODE_HID_VERSION}: ${_npm_error}")
    endif()
    file(ARCHIVE_EXTRACT INPUT ${_meldra_node_hid}/${_npm_tarball} DESTINATION ${_meldra_node_hid}
         PATTERNS package/hidapi)
    file(REMOVE ${_meldra_node_hid}/${_npm_tarball})
endif()
file(STRINGS ${_meldra_node_hid}/package/hidapi/VERSION _hidapi_version LIMIT_COUNT 1)
message(STATUS "hidapi: ${_hidapi_version} built from node-hid ${MELDRA_NODE_HID_VERSION}")

# A DLL of its own, as hidapi ships, so that a vendor build of the engine can share it with the program.
# It is C without Qt: no moc or rcc pass over it.
set(BUILD_SHARED_LIBS ON)
set(_meldra_automoc ${CMAKE_AUTOMOC})
set(_meldra_autorcc ${CMAKE_AUTORCC})
set(CMAKE_AUTOMOC OFF)
set(CMAKE_AUTORCC OFF)
add_subdirectory(${_meldra_node_hid}/package/hidapi ${CMAKE_BINARY_DIR}/hidapi EXCLUDE_FROM_ALL)
set(CMAKE_AUTOMOC ${_meldra_automoc})
set(CMAKE_AUTORCC ${_meldra_autorcc})
unset(BUILD_SHARED_LIBS)
set_target_properties(hidapi_winapi PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_libraries(meldra_hidapi_backend INTERFACE hidapi::hidapi)
