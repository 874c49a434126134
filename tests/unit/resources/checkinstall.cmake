# cmake -DBUILD_DIR=... -DPREFIX=... -DDATADIR=share -P checkinstall.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${PREFIX}")
execute_process(
    COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --component artwork --prefix "${PREFIX}"
    RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

set(expected "${DATADIR}/applications/varlo.desktop"
             "${DATADIR}/icons/hicolor/scalable/apps/varlo.svg")
foreach(px 16 22 24 32 48 64 96 128 256)
    list(APPEND expected "${DATADIR}/icons/hicolor/${px}x${px}/apps/varlo.png")
endforeach()
foreach(f IN LISTS expected)
    if(NOT EXISTS "${PREFIX}/${f}")
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()

# The launcher names the icon the theme holds and the program the install puts on PATH.
file(STRINGS "${PREFIX}/${DATADIR}/applications/varlo.desktop" lines)
foreach(want "Icon=varlo" "Exec=Varlo" "Type=Application")
    if(NOT want IN_LIST lines)
        message(FATAL_ERROR "varlo.desktop lacks ${want}")
    endif()
endforeach()

find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
    execute_process(COMMAND ${VALIDATE} "${PREFIX}/${DATADIR}/applications/varlo.desktop"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
        message(FATAL_ERROR "desktop-file-validate: ${out}")
    endif()
endif()
