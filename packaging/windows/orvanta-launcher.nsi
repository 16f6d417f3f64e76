; The player's installer of the Orvanta launcher: per user, without administrator rights, into
; %LOCALAPPDATA%\Programs\Orvanta Launcher, with a Start-menu shortcut and an uninstaller
; registered for the current user. /S installs (and uninstalls) silently. Neither touches the
; folder while the launcher runs from it: interactive, they ask the player to close it; silent,
; they end with exit code 2.
;
; Made by make_installer.cmake, which stages its files and passes:
;   VERSION         the launcher's version, e.g. 1.0
;   VERSION_QUAD    the same as four numbers, e.g. 1.0.0.0
;   STAGE           the staged folder: orvanta-launcher.exe, fonts\ (Nunito-Bold.ttf,
;                   Nunito-Regular.ttf, OFL.txt) and licenses\ (the notices of the libraries
;                   linked into the launcher)
;   ICON            the installer's and uninstaller's icon (.ico)
;   WELCOME_BITMAP  the picture of the welcome and finish pages (164x314 BMP)
;   OUTFILE         the installer to write
;   SIGNING         (optional) a script of !finalize and !uninstfinalize commands that sign the
;                   installer and the uninstaller
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
!ifdef SIGNING
  !include "${SIGNING}"
!endif

!define PRODUCT "Orvanta Launcher"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvantaLauncher"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
!define LAUNCHER "$INSTDIR\orvanta-launcher.exe"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
ShowInstDetails nevershow
ShowUninstDetails nevershow
BrandingText "${PRODUCT} ${VERSION}"

; A studio's copyright notice is its own to add; without one makensis would warn on every build.
!pragma warning disable 9100
VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${WELCOME_BITMAP}"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${WELCOME_BITMAP}"
!define MUI_WELCOMEPAGE_TITLE "Welcome to ${PRODUCT} ${VERSION}"
!define MUI_WELCOMEPAGE_TEXT "Setup will install ${PRODUCT}, which downloads Orvanta, keeps it \
up to date and starts it, for you alone, into:$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nNo administrator \
rights are needed. Your game and its saved data stay where they are.$\r$\n$\r$\nClick Install to \
start."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "${LAUNCHER}"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_UNPAGE_FINISH
!insertmacro MUI_LANGUAGE "English"

; While the launcher runs, Windows refuses to open its program for writing (a sharing violation),
; and the folder must be left alone: its program could not be replaced or removed.
!macro LAUNCHER_CLOSED_CHECK un
Function ${un}EnsureLauncherClosed
  retry:
  IfFileExists "${LAUNCHER}" 0 done
  ; GENERIC_WRITE, no sharing, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL
  System::Call 'kernel32::CreateFileW(w "${LAUNCHER}", i 0x40000000, i 0, p 0, i 3, i 0x80, p 0) p .r0 ?e'
  Pop $1
  ${If} $0 P<> -1
    System::Call 'kernel32::CloseHandle(p r0)'
    Goto done
  ${EndIf}
  ; ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND: nothing there to be open.
  ${If} $1 = 2
  ${OrIf} $1 = 3
    Goto done
  ${EndIf}
  IfSilent 0 +3
    SetErrorLevel 2
    Quit
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} is open. Close it, then choose Retry." \
    /SD IDCANCEL IDRETRY retry
  SetErrorLevel 2
  Quit
  done:
FunctionEnd
!macroend
!insertmacro LAUNCHER_CLOSED_CHECK ""
!insertmacro LAUNCHER_CLOSED_CHECK "un."

Function .onInit
  Call EnsureLauncherClosed
FunctionEnd

Function un.onInit
  Call un.EnsureLauncherClosed
FunctionEnd

; The notices of the libraries linked into the launcher (its fonts' licence is in fonts\).
!macro NOTICES action
  !insertmacro ${action} "SFML.md"
  !insertmacro ${action} "FreeType-LICENSE.TXT"
  !insertmacro ${action} "FreeType-FTL.TXT"
  !insertmacro ${action} "uriparser-COPYING.txt"
  !insertmacro ${action} "zstd-LICENSE.txt"
  !insertmacro ${action} "GCC-runtime-copyright.txt"
  !insertmacro ${action} "mingw-w64-copyright.txt"
!macroend
!macro PLACE_NOTICE name
  File "${STAGE}\licenses\${name}"
!macroend
!macro REMOVE_NOTICE name
  Delete "$INSTDIR\licenses\${name}"
!macroend

Section "Install"
  ; The player may have started the launcher since the welcome page.
  Call EnsureLauncherClosed
  SetOutPath "$INSTDIR"
  File "${STAGE}\orvanta-launcher.exe"
  SetOutPath "$INSTDIR\fonts"
  File "${STAGE}\fonts\Nunito-Bold.ttf"
  File "${STAGE}\fonts\Nunito-Regular.ttf"
  File "${STAGE}\fonts\OFL.txt"
  SetOutPath "$INSTDIR\licenses"
  !insertmacro NOTICES PLACE_NOTICE
  ; The shortcut starts the launcher in its own folder.
  SetOutPath "$INSTDIR"
  CreateShortCut "${SHORTCUT}" "${LAUNCHER}" "" "${LAUNCHER}" 0
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "${LAUNCHER},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes exactly what the installer placed, by name: the game the launcher installed lives in
; %LOCALAPPDATA%\Orvanta and stays, and so does anything else a player put in the folder.
Section "Uninstall"
  Call un.EnsureLauncherClosed
  Delete "${LAUNCHER}"
  Delete "$INSTDIR\fonts\Nunito-Bold.ttf"
  Delete "$INSTDIR\fonts\Nunito-Regular.ttf"
  Delete "$INSTDIR\fonts\OFL.txt"
  RMDir "$INSTDIR\fonts"
  !insertmacro NOTICES REMOVE_NOTICE
  RMDir "$INSTDIR\licenses"
  Delete "${SHORTCUT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
