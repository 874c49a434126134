# cmake -DBUILD_DIR=... -DPREFIX=... -DDATADIR=share -P checkinstall.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${PREFIX}")
execute_process(
    COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --component artwork --prefix "${PREFIX}"
    RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

set(id org.varlo.Varlo)
set(launcher "${DATADIR}/applications/${id}.desktop")
set(metainfo "${DATADIR}/metainfo/${id}.metainfo.xml")
set(expected "${launcher}" "${metainfo}"
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
file(STRINGS "${PREFIX}/${launcher}" lines)
foreach(want "Icon=varlo" "Exec=Varlo" "Type=Application")
    if(NOT want IN_LIST lines)
        message(FATAL_ERROR "${id}.desktop lacks ${want}")
    endif()
endforeach()

# Software centres join the metainfo to the launcher by the id: the metainfo file, its
# <id> and the launcher it names must all agree with the launcher's file name.
file(READ "${PREFIX}/${metainfo}" xml)
foreach(want "<id>${id}</id>" "<launchable type=\"desktop-id\">${id}.desktop</launchable>"
             "<binary>Varlo</binary>")
    string(FIND "${xml}" "${want}" at)
    if(at LESS 0)
        message(FATAL_ERROR "${id}.metainfo.xml lacks ${want}")
    endif()
endforeach()

find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
    execute_process(COMMAND ${VALIDATE} "${PREFIX}/${launcher}"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
        message(FATAL_ERROR "desktop-file-validate: ${out}")
    endif()
endif()
