# The version is written once, in project() at the top; every file that carries it is made from it here
# or where the file is used (app/, packaging/).
foreach(part MAJOR MINOR PATCH TWEAK)
    if(PROJECT_VERSION_${part} STREQUAL "")
        set(PROJECT_VERSION_${part} 0)
    endif()
endforeach()
set(MELDRA_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${PROJECT_VERSION_TWEAK})
string(REPLACE "." "," MELDRA_VERSION_COMMA "${MELDRA_VERSION}")
set(MELDRA_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/app/meldraversion.h.in ${MELDRA_GENERATED_DIR}/meldraversion.h @ONLY)
