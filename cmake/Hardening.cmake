# What Debian's build flags give a package (dpkg-buildflags with hardening=+all; the compiler makes
# position-independent executables by itself): a stack protector, fortified C library calls, format
# checks, and relocations read-only from the start. The programs parse device reports, firmware files
# and network data. Sanitizer builds instrument the same places their own way and are left alone, as
# is Windows, where MinGW's fortified calls need a library of their own. Fortify needs optimisation, so a
# Debug build gets the rest only.
if(MELDRA_SANITIZE STREQUAL "" AND NOT WIN32 AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
    add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()
