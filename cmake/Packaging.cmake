# Installation and the Debian package. `cmake --install` lays the tool out as a Linux desktop
# expects it (programs, desktop entry, icons, manual pages, license); `cpack -G DEB` wraps the
# same tree into veltra-settings_<version>_<arch>.deb. scripts/package does both.
include(GNUInstallDirs)

set(_veltra_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_veltra_gen ${PROJECT_BINARY_DIR}/packaging)

# Desktop entry, icon and executable share one name: desktops match a running window to its
# entry by the program's name (Wayland app id, X11 WM_CLASS), so the taskbar shows our icon.
set(VELTRA_APP_ID veltra-settings)

# The simulator goes along for training and demonstrations without a relay.
install(TARGETS veltra-settings veltra-cli veltra-relay-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${_veltra_pkg}/${VELTRA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The .DT type, which the desktop entry opens; Debian's shared-mime-info trigger and
# update-mime-database pick it up from here.
install(FILES ${_veltra_pkg}/${VELTRA_APP_ID}-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME ${VELTRA_APP_ID}.xml)
install(FILES ${_veltra_pkg}/${VELTRA_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(_size 48x48 256x256)
    install(FILES ${_veltra_pkg}/icons/${_size}/${VELTRA_APP_ID}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}/apps)
endforeach()

# Manual pages, gzipped as Debian wants them; -n keeps name and time out of the archive.
find_program(VELTRA_GZIP gzip REQUIRED)
set(_veltra_manpages)
foreach(_page veltra-settings veltra-cli veltra-relay-sim)
    configure_file(${_veltra_pkg}/${_page}.1.in ${_veltra_gen}/${_page}.1 @ONLY)
    add_custom_command(
        OUTPUT ${_veltra_gen}/${_page}.1.gz
        COMMAND ${VELTRA_GZIP} -9nkf ${_veltra_gen}/${_page}.1
        DEPENDS ${_veltra_gen}/${_page}.1
        VERBATIM)
    list(APPEND _veltra_manpages ${_veltra_gen}/${_page}.1.gz)
endforeach()
add_custom_target(veltra_manpages ALL DEPENDS ${_veltra_manpages})
install(FILES ${_veltra_manpages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# share/doc/veltra-settings/copyright in Debian's machine-readable form, made from LICENSE so
# the two cannot drift apart. Debian calls the MIT license "Expat".
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _veltra_license)
if(NOT _veltra_license MATCHES "Copyright \\(c\\) ([^\n]+)\n+(.*[^\n])\n*$")
    message(FATAL_ERROR "LICENSE: no \"Copyright (c) ...\" line followed by the license text")
endif()
set(_veltra_copyright_holder "${CMAKE_MATCH_1}")
set(_veltra_license_text "${CMAKE_MATCH_2}")
# A blank line in a DEP-5 paragraph is written " ."; every other line is indented by one.
string(REGEX REPLACE "\n\n" "\n.\n" _veltra_license_text "${_veltra_license_text}")
string(REPLACE "\n" "\n " _veltra_license_text " ${_veltra_license_text}")
file(CONFIGURE OUTPUT ${_veltra_gen}/copyright @ONLY CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${PROJECT_NAME}

Files: *
Copyright: ${_veltra_copyright_holder}
License: Expat
${_veltra_license_text}
")
install(FILES ${_veltra_gen}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Debian wants the package's history as changelog.gz; its newest entry names this version.
configure_file(${_veltra_pkg}/changelog ${_veltra_gen}/changelog COPYONLY)
file(STRINGS ${_veltra_gen}/changelog _veltra_changelog_top LIMIT_COUNT 1)
if(NOT _veltra_changelog_top MATCHES "^${PROJECT_NAME} \\(${PROJECT_VERSION}\\) ")
    message(WARNING "packaging/changelog: add an entry for ${PROJECT_VERSION} at the top")
endif()
add_custom_command(
    OUTPUT ${_veltra_gen}/changelog.gz
    COMMAND ${VELTRA_GZIP} -9nkf ${_veltra_gen}/changelog
    DEPENDS ${_veltra_gen}/changelog
    VERBATIM)
add_custom_target(veltra_changelog ALL DEPENDS ${_veltra_gen}/changelog.gz)
install(FILES ${_veltra_gen}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)
install(FILES ${PROJECT_SOURCE_DIR}/tools/relay-sim/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME relay-sim.md)

# Checks the installed tree (layout, desktop entry, icon sizes, license) on every test run.
if(VELTRA_BUILD_TESTS)
    add_test(NAME package_install_tree
             COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/check-install.sh
                     --tree ${PROJECT_BINARY_DIR})
    set_tests_properties(package_install_tree PROPERTIES LABELS e2e)
endif()

# --- Debian package -------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "VELTRA settings tool developers")
set(CPACK_PACKAGE_CONTACT "VELTRA settings tool developers <dev@veltra.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "settings tool for the VELTRA insulation and earth-leakage monitoring relay")
# Lines of at most 79 characters: dpkg indents them by one.
set(CPACK_PACKAGE_DESCRIPTION
    "Reads the settings of a VELTRA insulation and earth-leakage monitoring relay
over an RS-232 line, one page or all nine pages at once, shows them beside the
values to be written, writes chosen values back, clears the relay's stored
operation and maximum values, and saves and loads the settings as .DT files.
The window is in Japanese.

Also contains veltra-cli, the same relay work from a terminal for scripts and
for commissioning many relays, and veltra-relay-sim, a simulated relay on a
pseudo-terminal for training and demonstrations without hardware.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Whatever the builder's umask, the package's folders are rwxr-xr-x as Debian expects.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (dpkg-dev) derives Depends from the libraries the programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own buttons and dialogs (はい, キャンセル, the file dialog) take their Japanese from it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-translations-l10n)
# The window's Japanese texts need a CJK font; without one they show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-noto-cjk)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/_CPack_Packages/")

include(CPack)
