; SPDX-License-Identifier: MIT
; SPDX-FileCopyrightText: 2026 The SBUS Channel developers
;
; The Windows installer. scripts/package-windows makes it with
;   makensis -DVERSION=x.y.z -DSTAGE=dir -DFILES=dir -DOUTFILE=setup.exe installer.nsi
; where STAGE holds what the portable zip holds and FILES the two lists it
; wrote from STAGE: install.nsh (what to copy) and uninstall.nsh (what to
; delete again). The uninstaller removes exactly those files, so anything the
; user put there, and the per-user language file, stay.
;
; Per machine under Program Files for an administrator, per user under
; %LOCALAPPDATA%\Programs for anyone else or whoever picks it; silently with
; /S, and then /AllUsers or /CurrentUser choose.

; A 64-bit installer for a 64-bit program: it runs where the program runs,
; and Wine without its 32-bit half runs it too.
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma

!ifndef VERSION | STAGE | FILES | OUTFILE
  !error "define VERSION, STAGE, FILES and OUTFILE"
!endif

!define PRODUCT "SBUS Channel"
!define PUBLISHER "The SBUS Channel developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\SBUSChannel"
!define ICON "${__FILEDIR__}\sbus-channel.ico"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
!define MULTIUSER_USE_PROGRAMFILES64
; An update goes where the last install went.
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_LANGDLL_ALLLANGUAGES

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\sbus-channel.exe"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

; The Start menu speaks the installer's language, which is Windows' own
; unless the user picks the other one.
LangString ShortcutName ${LANG_ENGLISH} "SBUS Channel"
LangString ShortcutName ${LANG_SIMPCHINESE} "SBUS 通道设置"
LangString ShortcutComment ${LANG_ENGLISH} "Set which SBUS channel drives each gimbal function"
LangString ShortcutComment ${LANG_SIMPCHINESE} "设置云台各功能由哪个 SBUS 通道控制"
LangString UninstallName ${LANG_ENGLISH} "Uninstall SBUS Channel"
LangString UninstallName ${LANG_SIMPCHINESE} "卸载 SBUS 通道设置"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}, MIT licence"

Function .onInit
  !insertmacro MULTIUSER_INIT
  !insertmacro MUI_LANGDLL_DISPLAY
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
  !insertmacro MUI_UNGETLANGUAGE
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  !include "${FILES}\install.nsh"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; SetShellVarContext follows the install mode, so these land in the
  ; machine's or the user's Start menu.
  CreateDirectory "$SMPROGRAMS\$(ShortcutName)"
  CreateShortcut "$SMPROGRAMS\$(ShortcutName)\$(ShortcutName).lnk" "$INSTDIR\sbus-channel.exe" "" \
    "$INSTDIR\sbus-channel.exe" 0 SW_SHOWNORMAL "" "$(ShortcutComment)"
  CreateShortcut "$SMPROGRAMS\$(ShortcutName)\$(UninstallName).lnk" "$INSTDIR\uninstall.exe" \
    "/$MultiUser.InstallMode" "$INSTDIR\uninstall.exe" 0

  ; Add/Remove Programs, in the hive of the install mode (SHCTX).
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\sbus-channel.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  ; Which Start-menu folder this install made, whatever language the uninstaller speaks.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "StartMenuFolder" "$SMPROGRAMS\$(ShortcutName)"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Section "Uninstall"
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "StartMenuFolder"
  ${If} $0 != ""
    Delete "$0\*.lnk"
    RMDir "$0"
  ${EndIf}
  !include "${FILES}\uninstall.nsh"
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: a folder still holding something the user put there stays.
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
