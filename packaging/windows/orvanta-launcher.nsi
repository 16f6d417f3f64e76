; The player's installer of the Orvanta launcher: per user, without administrator rights, into
; %LOCALAPPDATA%\Programs\Orvanta Launcher, with a Start-menu shortcut and an uninstaller
; registered for the current user. /S installs (and uninstalls) silently.
;
; Built by cmake/windows.cmake (target orvanta-installer), which passes:
;   VERSION        the launcher's version, e.g. 1.0
;   VERSION_QUAD   the same as four numbers, e.g. 1.0.0.0
;   LAUNCHER_EXE   the launcher to install
;   FONTS_DIR      the folder holding Nunito-Bold.ttf, Nunito-Regular.ttf and OFL.txt
;   LICENSES_DIR   the folder holding the licences of SFML, FreeType, uriparser and zstd, linked
;                  into it
;   OUTFILE        the installer to write
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define PRODUCT "Orvanta Launcher"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvantaLauncher"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

; A studio's copyright notice is its own to add; without one makensis would warn on every build.
!pragma warning disable 9100
VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"

!include "MUI2.nsh"
!define MUI_FINISHPAGE_RUN "$INSTDIR\orvanta-launcher.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Install"
  SetOutPath "$INSTDIR"
  File "/oname=orvanta-launcher.exe" "${LAUNCHER_EXE}"
  SetOutPath "$INSTDIR\fonts"
  File "${FONTS_DIR}\Nunito-Bold.ttf"
  File "${FONTS_DIR}\Nunito-Regular.ttf"
  File "${FONTS_DIR}\OFL.txt"
  SetOutPath "$INSTDIR\licenses"
  File "${LICENSES_DIR}\SFML.md"
  File "${LICENSES_DIR}\FreeType-LICENSE.TXT"
  File "${LICENSES_DIR}\FreeType-FTL.TXT"
  File "${LICENSES_DIR}\uriparser-COPYING.txt"
  File "${LICENSES_DIR}\zstd-LICENSE.txt"
  ; The shortcut starts the launcher in its own folder.
  SetOutPath "$INSTDIR"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\orvanta-launcher.exe" "" "$INSTDIR\orvanta-launcher.exe" 0
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\orvanta-launcher.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes exactly what the installer placed, by name: the game the launcher installed lives in
; %LOCALAPPDATA%\Orvanta and stays, and so does anything else a player put in the folder.
Section "Uninstall"
  Delete "$INSTDIR\orvanta-launcher.exe"
  Delete "$INSTDIR\fonts\Nunito-Bold.ttf"
  Delete "$INSTDIR\fonts\Nunito-Regular.ttf"
  Delete "$INSTDIR\fonts\OFL.txt"
  RMDir "$INSTDIR\fonts"
  Delete "$INSTDIR\licenses\SFML.md"
  Delete "$INSTDIR\licenses\FreeType-LICENSE.TXT"
  Delete "$INSTDIR\licenses\FreeType-FTL.TXT"
  Delete "$INSTDIR\licenses\uriparser-COPYING.txt"
  Delete "$INSTDIR\licenses\zstd-LICENSE.txt"
  RMDir "$INSTDIR\licenses"
  Delete "${SHORTCUT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
