# Windows: the program laid out as the installer and the portable zip carry it, with exactly
# the runtime it loads beside it (the cross toolchain has no windeployqt). scripts/windows
# installs this tree, then wraps it with NSIS and as a zip.

# Held by both programs while they run; the installer and the uninstaller look for it.
set(VELTRA_RUNNING_MUTEX VeltraSettingsRunning)
target_compile_definitions(veltra-settings PRIVATE VELTRA_RUNNING_MUTEX="${VELTRA_RUNNING_MUTEX}")
target_compile_definitions(veltra-cli PRIVATE VELTRA_RUNNING_MUTEX="${VELTRA_RUNNING_MUTEX}")
file(WRITE ${PROJECT_BINARY_DIR}/packaging/installer-defines.nsh
     "!define RUNNING_MUTEX \"${VELTRA_RUNNING_MUTEX}\"\n")

# Each program's application manifest, embedded as its resource 1 (RT_MANIFEST): run as the
# user, Windows 10/11, long paths, Common Controls 6; the window per-monitor DPI aware.
foreach(_program veltra-settings veltra-cli)
    set(VELTRA_EXE_NAME ${_program})
    set(VELTRA_MANIFEST_DPI "")
    if(_program STREQUAL "veltra-settings")
        set(VELTRA_MANIFEST_DPI "
      <dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>
      <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2</dpiAwareness>")
    endif()
    set(_manifest ${PROJECT_BINARY_DIR}/packaging/${_program}.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/app.manifest.in ${_manifest} @ONLY)
    file(WRITE ${PROJECT_BINARY_DIR}/packaging/${_program}-manifest.rc "1 24 \"${_manifest}\"\n")
    target_sources(${_program} PRIVATE ${PROJECT_BINARY_DIR}/packaging/${_program}-manifest.rc)
    set_property(SOURCE ${PROJECT_BINARY_DIR}/packaging/${_program}-manifest.rc
                 TARGET_DIRECTORY ${_program} APPEND PROPERTY OBJECT_DEPENDS ${_manifest})
endforeach()

# Qt's own folders, from the package found; the MinGW runtime, from the compiler.
get_filename_component(VELTRA_QT_PREFIX "${Qt6_DIR}/../../.." ABSOLUTE)
set(VELTRA_QT_PLUGIN_DIR ${VELTRA_QT_PREFIX}/plugins)
set(VELTRA_RUNTIME_DIRS ${VELTRA_QT_PREFIX}/bin)
foreach(_dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll}
                    OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
        message(FATAL_ERROR "the MinGW runtime ${_dll} was not found (${_path})")
    endif()
    get_filename_component(_dir "${_path}" DIRECTORY)
    get_filename_component(_dir "${_dir}" REALPATH)
    list(APPEND VELTRA_RUNTIME_DIRS ${_dir})
endforeach()
list(REMOVE_DUPLICATES VELTRA_RUNTIME_DIRS)
find_program(VELTRA_OBJDUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
list(JOIN VELTRA_RUNTIME_DIRS "," _search)

# The window needs the platform plugin and the native style; Qt 6 prints on Windows from
# PrintSupport itself, without a plugin.
set(VELTRA_WINDOWS_PLUGINS platforms/qwindows.dll styles/qwindowsvistastyle.dll)
set(_deploy ${PROJECT_SOURCE_DIR}/cmake/deploy-windows-runtime.cmake)

install(TARGETS veltra-settings veltra-cli RUNTIME DESTINATION .)
install(CODE "
    set(EXECUTABLES \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/veltra-settings.exe\"
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/veltra-cli.exe\")
    set(DEST \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    set(QT_PLUGIN_DIR \"${VELTRA_QT_PLUGIN_DIR}\")
    set(PLUGINS \"${VELTRA_WINDOWS_PLUGINS}\")
    set(SEARCH_DIRS \"${VELTRA_RUNTIME_DIRS}\")
    set(OBJDUMP \"${VELTRA_OBJDUMP}\")
    set(STRIP \"\")
    if(CMAKE_INSTALL_DO_STRIP)
        set(STRIP \"${CMAKE_STRIP}\")
    endif()
    include(\"${_deploy}\")
")
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
# Qt's own texts in Japanese: the .qm files do not depend on the platform, so the host's
# (Debian's qt6-translations-l10n) go beside the program, where it looks first.
find_file(VELTRA_QTBASE_JA qtbase_ja.qm PATHS /usr/share/qt6/translations NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
install(FILES ${VELTRA_QTBASE_JA} DESTINATION translations)

# The command line's manual page, as text: Windows has no man.
find_program(VELTRA_GROFF groff REQUIRED)
find_program(VELTRA_PRECONV preconv REQUIRED)
set(_veltra_manual ${PROJECT_BINARY_DIR}/packaging/veltra-cli.1)
configure_file(${PROJECT_SOURCE_DIR}/packaging/veltra-cli.1.in ${_veltra_manual} @ONLY)
add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/packaging/veltra-cli.txt
    COMMAND ${CMAKE_COMMAND} -E env GROFF_NO_SGR=1
            sh -c "${VELTRA_PRECONV} -e UTF-8 '${_veltra_manual}' | ${VELTRA_GROFF} -man -Tutf8 -P-cbou -rLL=90n > '${PROJECT_BINARY_DIR}/packaging/veltra-cli.txt'"
    DEPENDS ${_veltra_manual}
    VERBATIM)
add_custom_target(veltra_cli_manual ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/veltra-cli.txt)
install(FILES ${PROJECT_BINARY_DIR}/packaging/veltra-cli.txt DESTINATION .)

# The build folder runs the same way, the tests with it (their offscreen platform too), so
# that Wine finds every DLL beside the programs and none from elsewhere.
add_custom_target(windows_runtime ALL
    COMMAND ${CMAKE_COMMAND}
        -DEXE_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
        -DDEST=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
        -DQT_PLUGIN_DIR=${VELTRA_QT_PLUGIN_DIR}
        "-DPLUGINS=platforms/qwindows.dll,platforms/qoffscreen.dll,styles/qwindowsvistastyle.dll"
        "-DSEARCH_DIRS=${_search}"
        -DOBJDUMP=${VELTRA_OBJDUMP}
        -P ${_deploy}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/translations
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VELTRA_QTBASE_JA}
            ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/translations/qtbase_ja.qm
    COMMENT "Copying the Qt and MinGW runtime beside the programs"
    VERBATIM)
get_property(_programs GLOBAL PROPERTY VELTRA_WINDOWS_PROGRAMS)
add_dependencies(windows_runtime veltra-settings veltra-cli ${_programs})
