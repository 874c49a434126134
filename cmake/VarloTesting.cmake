# varlo_add_test(NAME SOURCES ... [LIBS ...] [LABELS ...] [X11 [XVFB_FALLBACK]]
#                [XRUN_ARGS ...] [ENV ...])
#   builds the test executable NAME and registers one run of it.
# varlo_add_test_run(NAME TARGET [LABELS ...] [X11 [XVFB_FALLBACK]] [XRUN_ARGS ...] [ENV ...])
#   registers one more run of an existing test executable, under another name.
#
# Unit tests run on Qt's offscreen platform. X11 tests run under tests/support/xrun,
# which starts a private X server (Xorg with the dummy driver) and a window
# manager for the one test and tears both down afterwards. Without Xorg such a
# test fails; only one marked XVFB_FALLBACK runs on Xvfb's single screen instead.
#
# Every run, and every program a test starts (they inherit the environment, and
# xrun passes it on), gets the sanitizer settings below: in a VARLO_SANITIZE
# build any report fails the test; leaks inside system libraries are suppressed
# by tests/lsan.supp.
set(VARLO_XRUN ${CMAKE_SOURCE_DIR}/tests/support/xrun)
set(VARLO_TEST_ENVIRONMENT
    "VARLO_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
    "ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:check_initialization_order=1"
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1")
if(VARLO_SANITIZE)
    # The stress rounds run ten times slower under the sanitizers.
    list(APPEND VARLO_TEST_ENVIRONMENT "VARLO_STRESS_SCALE=0.1")
endif()

function(varlo_add_test_run name target)
    cmake_parse_arguments(T "X11;XVFB_FALLBACK" "" "LABELS;XRUN_ARGS;ENV" ${ARGN})
    if(T_X11)
        if(NOT T_XVFB_FALLBACK)
            list(PREPEND T_XRUN_ARGS --no-xvfb)
        endif()
        add_test(NAME ${name} COMMAND ${VARLO_XRUN} ${T_XRUN_ARGS} -- $<TARGET_FILE:${target}>)
        set(labels x11 ${T_LABELS})
        set(env ${VARLO_TEST_ENVIRONMENT} ${T_ENV})
    else()
        add_test(NAME ${name} COMMAND ${target})
        set(labels unit ${T_LABELS})
        set(env "QT_QPA_PLATFORM=offscreen" ${VARLO_TEST_ENVIRONMENT} ${T_ENV})
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${labels}" ENVIRONMENT "${env}" TIMEOUT 300)
endfunction()

function(varlo_add_test name)
    cmake_parse_arguments(T "X11;XVFB_FALLBACK" "" "SOURCES;LIBS;LABELS;XRUN_ARGS;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
    set(run_args LABELS ${T_LABELS} XRUN_ARGS ${T_XRUN_ARGS} ENV ${T_ENV})
    if(T_X11)
        list(APPEND run_args X11)
    endif()
    if(T_XVFB_FALLBACK)
        list(APPEND run_args XVFB_FALLBACK)
    endif()
    varlo_add_test_run(${name} ${name} ${run_args})
endfunction()
