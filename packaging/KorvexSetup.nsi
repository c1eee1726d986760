; The German setup program: shows its pages, then installs Korvex-<version>-x64.msi, which stays
; the one installation engine (one entry under Apps, one upgrade path). It writes no uninstaller
; of its own: Korvex is removed through its Apps entry or "msiexec /x".
; Built by scripts/package.sh:
;   makensis -DVERSION=... -DSIZE_KIB=... -DMSI=... -DICON=... -DOUTFILE=... KorvexSetup.nsi
; /S installs silently with the defaults (with the service). The exit code is msiexec's:
; 0 success, 3010 success that needs a restart, anything else failure.

Unicode true
; The 64-bit stub: the 32-bit one does nothing under a 64-bit-only Wine.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh

Name "Korvex ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Korvex ${VERSION}"
ShowInstDetails show
; Where the package puts the programs; used only to start the client at the end.
InstallDir "$PROGRAMFILES64\Korvex"

!define MUI_ICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Korvex jetzt starten"
!define MUI_FINISHPAGE_RUN_FUNCTION StartClient

!define MUI_WELCOMEPAGE_TEXT "Dieser Assistent installiert Korvex ${VERSION}: den Korvex-Client und den Korvex-Dienst, die einen Hostnamen beim Adressdienst auf die öffentliche Adresse Ihres Internetanschlusses gerichtet halten.$\r$\n$\r$\nEin laufender Korvex-Client wird für die Installation beendet. Ihre Einstellungen bleiben erhalten.$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME
!define MUI_COMPONENTSPAGE_TEXT_TOP "Der Dienst hält die Adresse aktuell, auch wenn niemand angemeldet ist."
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_LANGUAGE "German"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_GERMAN} "ProductName" "Korvex"
VIAddVersionKey /LANG=${LANG_GERMAN} "FileDescription" "Korvex-Setup"
VIAddVersionKey /LANG=${LANG_GERMAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_GERMAN} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_GERMAN} "LegalCopyright" "Korvex"

; Whether this run closed a running client, so that a silent run starts it again.
Var ClosedClient

Section "Korvex" SecProgramm
  SectionIn RO
  ; What the programs take in the installation folder (the package itself is temporary).
  AddSize ${SIZE_KIB}
SectionEnd

Section "Dienst installieren" SecDienst
SectionEnd

Section "-Installieren" SecInstall
  Call CloseClient
  InitPluginsDir
  ; The page shows what happens, not the temporary paths and the command line.
  SetDetailsPrint none
  SetOutPath "$PLUGINSDIR"
  File "/oname=$PLUGINSDIR\Korvex.msi" "${MSI}"
  SetDetailsPrint both
  StrCpy $1 "Programm"
  StrCpy $4 "Korvex wird installiert …"
  ${If} ${SectionIsSelected} ${SecDienst}
    StrCpy $1 "Programm,Dienst"
    StrCpy $4 "Korvex wird mit dem Dienst installiert …"
  ${EndIf}
  DetailPrint $4
  ; Passed on, so that the MSI's own log can be had through the setup program too.
  StrCpy $2 ""
  ReadEnvStr $3 KORVEX_SETUP_LOG
  ${If} $3 != ""
    StrCpy $2 '/l*v "$3"'
  ${EndIf}
  SetDetailsPrint none
  ExecWait '"$SYSDIR\msiexec.exe" /i "$PLUGINSDIR\Korvex.msi" /qn ADDLOCAL=$1 $2' $0
  SetOutPath "$TEMP"
  SetDetailsPrint both
  ${If} $0 == 0
    DetailPrint "Korvex ist installiert."
  ${ElseIf} $0 == 3010
    DetailPrint "Korvex ist installiert; ein Neustart schließt die Installation ab."
    SetRebootFlag true
  ${ElseIf} $0 == 1638
    DetailPrint "Eine neuere Version von Korvex ist bereits installiert."
    MessageBox MB_ICONSTOP|MB_OK "Eine neuere Version von Korvex ist bereits installiert. Die Installation wurde abgebrochen, es wurde nichts geändert." /SD IDOK
    SetErrorLevel $0
    Abort
  ${Else}
    DetailPrint "Die Installation ist fehlgeschlagen (Windows Installer: $0)."
    MessageBox MB_ICONSTOP|MB_OK "Die Installation von Korvex ist fehlgeschlagen (Fehler $0). Es wurde nichts geändert." /SD IDOK
    SetErrorLevel $0
    Abort
  ${EndIf}
  SetErrorLevel $0
  ${If} ${Silent}
  ${AndIf} $ClosedClient == 1
    Call StartClient
  ${EndIf}
SectionEnd

; A running client keeps its program file in use: close it through its window, as its own
; "Beenden" does, and wait until both its windows are gone, so that the installation is never
; left half old and half new and needs no restart.
Function .onInit
  ; The embedded package is unpacked to a temporary folder only.
  SectionSetSize ${SecInstall} 0
FunctionEnd

Function CloseClient
  StrCpy $ClosedClient 0
  FindWindow $0 "TClient" ""
  ${If} $0 == 0
    Return
  ${EndIf}
  DetailPrint "Korvex wird beendet …"
  StrCpy $ClosedClient 1
  SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
  StrCpy $1 0
  ${Do}
    FindWindow $0 "TClient" ""
    FindWindow $2 "KorvexTrayIcon" ""
    ${If} $0 == 0
    ${AndIf} $2 == 0
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $1 > 100
      ${Break}
    ${EndIf}
    Sleep 100
  ${Loop}
  ; The process ends right after its windows.
  Sleep 500
FunctionEnd

Function StartClient
  ; The working directory is the installation folder: the client finds the service program,
  ; the "updates" folder and the updater there.
  SetOutPath "$INSTDIR"
  SetDetailsPrint none
  Exec '"$INSTDIR\Korvex.exe"'
  SetOutPath "$TEMP"
  SetDetailsPrint both
FunctionEnd
