# varlo_add_test(NAME SOURCES ... [LIBS ...] [LABELS ...] [X11] [XRUN_ARGS ...])
#
# Unit tests run on Qt's offscreen platform. X11 tests run under tests/support/xrun,
# which starts a private X server (Xorg with the dummy driver, Xvfb as fallback)
# and a window manager for the one test and tears both down afterwards.
set(VARLO_XRUN ${CMAKE_SOURCE_DIR}/tests/support/xrun)

function(varlo_add_test name)
    cmake_parse_arguments(T "X11" "" "SOURCES;LIBS;LABELS;XRUN_ARGS;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
    if(T_X11)
        add_test(NAME ${name} COMMAND ${VARLO_XRUN} ${T_XRUN_ARGS} -- $<TARGET_FILE:${name}>)
        set(labels x11 ${T_LABELS})
        set(env "VARLO_BIN_DIR=${CMAKE_BINARY_DIR}/bin" ${T_ENV})
    else()
        add_test(NAME ${name} COMMAND ${name})
        set(labels unit ${T_LABELS})
        set(env "QT_QPA_PLATFORM=offscreen" "VARLO_BIN_DIR=${CMAKE_BINARY_DIR}/bin" ${T_ENV})
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${labels}" ENVIRONMENT "${env}" TIMEOUT 300)
endfunction()
