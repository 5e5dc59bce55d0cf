; The Windows installer: per machine into Program Files\VELTRA Settings, a Start-menu entry,
; .DT files opening in the tool, and an uninstaller registered in Apps & features that removes
; exactly what was installed. An installed version is uninstalled first (by its own
; uninstaller), so an upgrade leaves nothing of it behind. Neither the installer nor the
; uninstaller touches a file while the tool runs: they ask to close it, and a silent run fails
; (exit code 2) without a change.
; "/S" installs and uninstalls silently.
;
; scripts/windows builds it from the installed tree:
;   makensis -INPUTCHARSET UTF8 -DVERSION=<project version> -DSTAGE=<tree> -DFILES=<install list>
;            -DUNFILES=<removal list> -DSIZE_KB=<size> -DICON=<.ico> -DOUTFILE=<exe>
;            -DDEFINES=<installer-defines.nsh of the build> [-DSIGN=packaging/windows/sign]
;            installer.nsi
; A 64-bit installer: the program is 64-bit, and a 32-bit stub would need 32-bit Windows
; support that not every system running it has.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!include "MUI2.nsh"
!include "x64.nsh"
!include "LogicLib.nsh"
; RUNNING_MUTEX, the name the tool holds while it runs.
!include "${DEFINES}"

!define PRODUCT "VELTRA 設定ソフト"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VELTRA Settings"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
!define PUBLISHER "VELTRA settings tool developers"
!define FILE_TYPE "VeltraSettings.DT"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; The uninstaller comes into being here, so it is signed here, like the programs; scripts/windows
; signs the installer once it is written.
!ifdef SIGN
    !uninstfinalize '"${SIGN}" "%1"' = 0
!endif
InstallDir "$PROGRAMFILES64\VELTRA Settings"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1041 "ProductName" "VELTRA Settings"
VIAddVersionKey /LANG=1041 "FileDescription" "${PRODUCT} インストーラー"
VIAddVersionKey /LANG=1041 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1041 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "LegalCopyright" "Copyright (c) 2026 ${PUBLISHER}, MIT License"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\veltra-settings.exe"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

; Until the tool has ended: asks to close it (Retry or Cancel); a silent run, or Cancel, ends
; with exit code 2 before anything has changed.
!macro WAIT_FOR_TOOL_TO_END UN
Function ${UN}waitForToolToEnd
    ${Do}
        ; In this session, or (Global\) in any other.
        System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${RUNNING_MUTEX}") p .r0'
        ${If} $0 = 0
            System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Global\${RUNNING_MUTEX}") p .r0'
        ${EndIf}
        ${If} $0 = 0
            Return
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p r0)'
        ${If} ${Silent}
            SetErrorLevel 2
            Quit
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
            "${PRODUCT}が起動しています。$\r$\n${PRODUCT}を終了してから「再試行」を押してください。" \
            IDRETRY retry
        SetErrorLevel 2
        Quit
      retry:
    ${Loop}
FunctionEnd
!macroend
!insertmacro WAIT_FOR_TOOL_TO_END ""
!insertmacro WAIT_FOR_TOOL_TO_END "un."

Function .onInit
    SetShellVarContext all
    SetRegView 64
    ${IfNot} ${RunningX64}
        MessageBox MB_ICONSTOP "このソフトは64ビット版のWindowsが必要です。"
        Abort
    ${EndIf}
    Call waitForToolToEnd
FunctionEnd

Function un.onInit
    SetShellVarContext all
    SetRegView 64
    Call un.waitForToolToEnd
FunctionEnd

Section "${PRODUCT}"
    ; The tool may have been started while the pages were shown.
    Call waitForToolToEnd
    ; An installed version goes first, by its own uninstaller and file list, so that files it
    ; had and this version has not do not stay behind. "_?=" runs it where it is, and waits.
    ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $R0 != ""
    ${AndIf} ${FileExists} "$R0\uninstall.exe"
        ExecWait '"$R0\uninstall.exe" /S _?=$R0'
        Delete "$R0\uninstall.exe"
        RMDir "$R0"
    ${EndIf}
    !include "${FILES}"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\veltra-settings.exe" "" "$INSTDIR\veltra-settings.exe" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\veltra-settings.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}

    ; .DT files open in the tool, which loads them after a confirmation.
    WriteRegStr HKLM "Software\Classes\.DT" "" "${FILE_TYPE}"
    WriteRegStr HKLM "Software\Classes\.DT\OpenWithProgids" "${FILE_TYPE}" ""
    WriteRegStr HKLM "Software\Classes\${FILE_TYPE}" "" "VELTRA 設定ファイル"
    WriteRegStr HKLM "Software\Classes\${FILE_TYPE}\DefaultIcon" "" "$INSTDIR\veltra-settings.exe,0"
    WriteRegStr HKLM "Software\Classes\${FILE_TYPE}\shell\open\command" "" \
        '"$INSTDIR\veltra-settings.exe" "%1"'
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

Section "Uninstall"
    ; Only what the installer put there: a folder the user chose may hold other files.
    !include "${UNFILES}"
    Delete "$INSTDIR\uninstall.exe"
    Delete "${SHORTCUT}"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"

    ; The file type goes; .DT itself only while it still names this tool's type.
    DeleteRegKey HKLM "Software\Classes\${FILE_TYPE}"
    DeleteRegValue HKLM "Software\Classes\.DT\OpenWithProgids" "${FILE_TYPE}"
    DeleteRegKey /ifempty HKLM "Software\Classes\.DT\OpenWithProgids"
    ReadRegStr $0 HKLM "Software\Classes\.DT" ""
    StrCmp $0 "${FILE_TYPE}" 0 +2
        DeleteRegValue HKLM "Software\Classes\.DT" ""
    DeleteRegKey /ifempty HKLM "Software\Classes\.DT"
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd
