; The Tolvar installer: the program under Program Files, Start-menu entries for it and its user's guide, and an
; uninstaller. The installed program keeps its files in %LOCALAPPDATA%\Tolvar, since its own directory is not
; writable.
; A 64-bit installer for a 64-bit program.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"

Name "Tolvar"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Tolvar"
InstallDirRegKey HKLM "Software\Tolvar" "InstallDir"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tolvar"

Section "Tolvar"
    SetOutPath "$INSTDIR"
    File /r "${STAGE}\*.*"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    SetShellVarContext all
    CreateShortcut "$SMPROGRAMS\Tolvar.lnk" "$INSTDIR\tolvar.exe" "" "$INSTDIR\tolvar.exe" 0 SW_SHOWNORMAL "" "服务器远程管理工具"
    CreateShortcut "$SMPROGRAMS\Tolvar 使用说明.lnk" "$INSTDIR\使用说明.html" "" "" 0 SW_SHOWNORMAL "" "Tolvar 的使用说明"
    WriteRegStr HKLM "Software\Tolvar" "InstallDir" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tolvar 服务器远程管理工具"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tolvar.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The user's own list in %LOCALAPPDATA%\Tolvar is theirs and stays.
Section "Uninstall"
    SetShellVarContext all
    Delete "$SMPROGRAMS\Tolvar.lnk"
    Delete "$SMPROGRAMS\Tolvar 使用说明.lnk"
    RMDir /r "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    DeleteRegKey HKLM "Software\Tolvar"
SectionEnd
