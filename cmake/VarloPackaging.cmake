# The Debian package: `cmake --build build --target package` writes
# build/varlo_<version>-<release>_<arch>.deb, installed under /usr whatever
# CMAKE_INSTALL_PREFIX the build tree was configured with.
# Included at the end of the top-level CMakeLists.txt, after every install rule.

set(VARLO_PACKAGE_CONTACT "Varlo developers <dev@varlo.invalid>")
set(VARLO_PACKAGE_RELEASE 1)
set(VARLO_DEBIAN_VERSION ${PROJECT_VERSION}-${VARLO_PACKAGE_RELEASE})

# Under a system library folder (/usr, the package) the loader finds libvarlowidgets
# by itself; an RPATH there is dead weight that Debian's checks object to. Any other
# prefix keeps the $ORIGIN-relative paths the targets were given. Decided when
# installing, because `cmake --install --prefix` and CPack choose the prefix only then.
set(_varlo_rpath_files "${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:Varlo>")
if(TARGET varlowidgetsplugin)
    list(APPEND _varlo_rpath_files "${VARLO_DESIGNER_PLUGIN_DIR}/$<TARGET_FILE_NAME:varlowidgetsplugin>")
endif()
install(CODE "
    set(_varlo_system_libdirs \"${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES}\")
    set(_varlo_libdir [[${CMAKE_INSTALL_LIBDIR}]])
    cmake_path(ABSOLUTE_PATH _varlo_libdir BASE_DIRECTORY \"\${CMAKE_INSTALL_PREFIX}\" NORMALIZE)
    string(REGEX REPLACE \"/$\" \"\" _varlo_libdir \"\${_varlo_libdir}\")
    list(FIND _varlo_system_libdirs \"\${_varlo_libdir}\" _varlo_system)
    if(_varlo_system GREATER_EQUAL 0)
        foreach(_varlo_file IN ITEMS ${_varlo_rpath_files})
            cmake_path(ABSOLUTE_PATH _varlo_file BASE_DIRECTORY \"\${CMAKE_INSTALL_PREFIX}\")
            message(STATUS \"No RPATH under a system library folder: \${_varlo_file}\")
            file(RPATH_REMOVE FILE \"\$ENV{DESTDIR}\${_varlo_file}\")
        endforeach()
    endif()
")

# The copyright and Debian changelog belong to the package only: a component that a
# plain `cmake --install` leaves out.
find_program(VARLO_GZIP gzip REQUIRED)
string(TIMESTAMP VARLO_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/resources/packaging/changelog.Debian.in
               ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
execute_process(COMMAND ${VARLO_GZIP} -9n -c ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
                COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${PROJECT_SOURCE_DIR}/resources/packaging/copyright
              ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/varlo
        COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varlo)
set(CPACK_PACKAGE_VENDOR "Varlo developers")
set(CPACK_PACKAGE_CONTACT "${VARLO_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "grid window placer for X11 desktops")
set(CPACK_PACKAGE_DESCRIPTION [=[
Varlo lives in the system tray and puts windows where you want them with one
drag or one key. Its hot key or tray icon shows a translucent panel on every
screen; dragging across the panel's grid moves and sizes the window in front
to that part of the screen's work area, with optional gaps between windows
and margins along the screen edges. Named shortcuts place the window in front
on a stored part of the grid without the panel.

Varlo needs an X11 session with an EWMH window manager. The package also
holds the widget library Varlo is built from and its Qt Designer plug-in.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

# One package holding every component, the Debian-only one included.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
get_cmake_property(CPACK_COMPONENTS_ALL COMPONENTS)

set(CPACK_DEBIAN_PACKAGE_NAME varlo)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VARLO_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://varlo.invalid/")
# Libraries come from dpkg-shlibdeps; what Qt loads as plug-ins it cannot see: the
# X11 platform plug-in, the shortcut database's SQLite driver and, for the SVG icons
# of other programs, the SVG image plug-ins.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6svg6")
# A shlibs file for libvarlowidgets, and the loader's cache refreshed through dpkg's
# ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/resources/packaging/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
