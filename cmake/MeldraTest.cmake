# meldra_test(NAME label SOURCES ... [LIBS ...] [GUI] [TIMEOUT s])
# Builds a Qt Test executable on the layers it names in LIBS and the HID simulator (the tests' hidapi),
# and registers it with CTest.
# GUI tests run under Xvfb; the test command starts one server for the whole suite and exports DISPLAY.
function(meldra_test name)
    cmake_parse_arguments(T "GUI" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS} hidsim)
    set_target_properties(${name} PROPERTIES MELDRA_HID_SIMULATOR ON)
    meldra_warnings(${name})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set(_labels ${T_LABEL})
    if(T_GUI)
        # Window tests also carry "gui": the sanitizer run treats their exit-time library noise apart.
        list(APPEND _labels gui)
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${_labels}" TIMEOUT ${T_TIMEOUT})
    if(NOT T_GUI)
        set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    endif()
endfunction()
