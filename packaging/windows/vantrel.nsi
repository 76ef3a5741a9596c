; The Windows setup program and its uninstaller (Debian's makensis, 64-bit Unicode stubs).
; makensis -DVERSION=1.0 -DPROGRAM=vantrel.exe -DSERVICE=vantrel-service.exe -DSETTINGS=...
;          -DHELP=... -DSHIPPED=<folder> -DOUTFILE=vantrel-setup-1.0.exe vantrel.nsi
;
; The hosts file service (VantrelHosts, LocalSystem) is registered and started by the setup and
; stopped and removed by the uninstaller, each through "vantrel-service.exe -install / -remove".
;
; The settings file is the user's list of domains. Setup and uninstaller tell an edited file from
; a shipped one by comparing it byte for byte with every settings file a release has shipped
; (SHIPPED: the current one and the earlier ones, CR LF line ends, as the setup installs them).
; A file equal to one of them is Vantrel's and is replaced or removed; any other file is the
; user's and is kept, as is HKEY_CURRENT_USER\Software\Vantrel (address, last upgrade check).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!define PRODUCT "Vantrel"
!define PUBLISHER "Vantrel"
!define ENTRY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantrel"
!define PREFS "Software\Vantrel"
!define UNINSTALLER "unins000.exe"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
ShowInstDetails nevershow
; An upgrade starts the setup and waits for it: it ends by itself once the files are in.
AutoCloseWindow true
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

Page directory "" "" CheckInstallFolder
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var KeptSettings

; $0 = 1 when the files $1 and $2 hold the same bytes, else 0.
!macro SAME_FILE_FUNCTION prefix
Function ${prefix}SameFile
  Push $3
  Push $4
  Push $5
  Push $6
  StrCpy $0 0
  ClearErrors
  FileOpen $3 $1 r
  IfErrors done
  FileOpen $4 $2 r
  IfErrors close1
  ${Do}
    ClearErrors
    FileReadByte $3 $5
    ${If} ${Errors}
      ClearErrors
      FileReadByte $4 $6
      ${If} ${Errors}
        StrCpy $0 1
      ${EndIf}
      ${Break}
    ${EndIf}
    FileReadByte $4 $6
    ${IfThen} ${Errors} ${|} ${Break} ${|}
    ${IfThen} $5 != $6 ${|} ${Break} ${|}
  ${Loop}
  FileClose $4
close1:
  FileClose $3
done:
  Pop $6
  Pop $5
  Pop $4
  Pop $3
FunctionEnd

; $0 = 1 when the settings file $1 is one that a release shipped (they are unpacked into
; $PLUGINSDIR\shipped first), else 0.
Function ${prefix}IsShippedSettings
  Push $2
  Push $7
  StrCpy $0 0
  FindFirst $7 $2 "$PLUGINSDIR\shipped\*.txt"
  ${DoWhile} $2 != ""
    StrCpy $2 "$PLUGINSDIR\shipped\$2"
    Call ${prefix}SameFile
    ${IfThen} $0 = 1 ${|} ${Break} ${|}
    FindNext $7 $2
  ${Loop}
  FindClose $7
  Pop $7
  Pop $2
FunctionEnd
!macroend
!insertmacro SAME_FILE_FUNCTION ""
!insertmacro SAME_FILE_FUNCTION "un."

; Deletes the program file; one that is running (the program that started an upgrade) cannot be
; deleted but can be renamed: it moves aside and goes when Windows next starts.
!macro REMOVE_PROGRAM
  Delete "$INSTDIR\vantrel-old.exe"
  ClearErrors
  Delete "$INSTDIR\vantrel.exe"
  ${If} ${Errors}
    Rename "$INSTDIR\vantrel.exe" "$INSTDIR\vantrel-old.exe"
    Delete /REBOOTOK "$INSTDIR\vantrel-old.exe"
  ${EndIf}
!macroend

; $0 = 1 when $INSTDIR is a folder inside $PROGRAMFILES64, else 0. Only administrators can
; change Program Files and what it holds; a folder elsewhere (C:\Vantrel, say) lets every user
; replace the program or put a library beside it, which would then run as administrator. A path
; with ".." in it is refused rather than resolved. (NSIS itself drops characters that no file
; name may hold, such as a colon past the drive.)
Function InstallFolderIsProtected
  Push $1
  Push $2
  Push $3
  StrCpy $0 0
  StrLen $1 "$PROGRAMFILES64\"
  StrCpy $2 "$INSTDIR" $1
  StrCpy $3 "$INSTDIR" "" $1
  ${If} $2 == "$PROGRAMFILES64\"
  ${AndIf} $3 != ""
    StrCpy $0 1
    StrCpy $1 0
    ${Do}
      StrCpy $2 "$INSTDIR" 2 $1
      ${If} $2 == ""
        ${Break}
      ${ElseIf} $2 == ".."
        StrCpy $0 0
      ${EndIf}
      IntOp $1 $1 + 1
    ${Loop}
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

!define INSTALL_FOLDER_REFUSED "${PRODUCT} installs only into a folder inside $PROGRAMFILES64, which only administrators can change: ${PRODUCT}'s service runs as the system account, and in a folder that other accounts can change, any program could replace it.$\r$\n$\r$\nPlease choose a folder inside $PROGRAMFILES64."

Function CheckInstallFolder
  Call InstallFolderIsProtected
  ${If} $0 = 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "${INSTALL_FOLDER_REFUSED}"
    Abort
  ${EndIf}
FunctionEnd

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs a 64-bit edition of Windows." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Vantrel"
  ; Also for a folder given with /D=, which no page checks.
  Call InstallFolderIsProtected
  ${If} $0 = 0
    MessageBox MB_OK|MB_ICONSTOP "${INSTALL_FOLDER_REFUSED}" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  SetOutPath "$INSTDIR"
  ; A service of an earlier installation stops first: its program is replaced.
  ${If} ${FileExists} "$INSTDIR\vantrel-service.exe"
    ExecWait '"$INSTDIR\vantrel-service.exe" -remove'
  ${EndIf}
  !insertmacro REMOVE_PROGRAM
  File "/oname=vantrel.exe" "${PROGRAM}"
  File "/oname=vantrel-service.exe" "${SERVICE}"
  File "/oname=help.txt" "${HELP}"

  ; The settings file goes in unless the user has edited the one that is there.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR\shipped"
  File "${SHIPPED}/*.txt"
  SetOutPath "$INSTDIR"
  StrCpy $0 1
  ${If} ${FileExists} "$INSTDIR\vantrel_settings.txt"
    StrCpy $1 "$INSTDIR\vantrel_settings.txt"
    Call IsShippedSettings
  ${EndIf}
  ${If} $0 = 1
    File "/oname=vantrel_settings.txt" "${SETTINGS}"
  ${Else}
    DetailPrint "Kept your settings file $INSTDIR\vantrel_settings.txt"
  ${EndIf}

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; The service reads the settings file beside it: registered and started once the files are in.
  ExecWait '"$INSTDIR\vantrel-service.exe" -install' $0
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "${PRODUCT}'s hosts file service could not be started. Hide and Show will offer to repair the installation." /SD IDOK
  ${EndIf}

  ; The program takes its settings and help files from its own folder; the shortcut starts it
  ; there too (the output path when the shortcut is made).
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\vantrel.exe" "" "$INSTDIR\vantrel.exe" 0

  WriteRegStr HKLM "${ENTRY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${ENTRY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${ENTRY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${ENTRY}" "DisplayIcon" "$INSTDIR\vantrel.exe,0"
  WriteRegStr HKLM "${ENTRY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${ENTRY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${ENTRY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /SILENT'
  WriteRegDWORD HKLM "${ENTRY}" "NoModify" 1
  WriteRegDWORD HKLM "${ENTRY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${ENTRY}" "EstimatedSize" "$0"
SectionEnd

Function un.onInit
  ; "/SILENT" as well as NSIS's own "/S".
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/SILENT" $1
  ${IfNot} ${Errors}
    SetSilent silent
  ${EndIf}
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  ; The finish message says what was kept; the window closes with it.
  SetAutoClose true
  ; The block leaves the hosts file first: without the program nothing could remove it later.
  ; Its exit status: 0, no block is left; 1, the hosts file was busy or could not be read or
  ; written (a later run may succeed); 2, a block is left that only a person can remove (a begin
  ; marker without its end, or a second block). Its one line says why, and for 2 which lines of
  ; which file to delete.
  nsExec::ExecToStack '"$INSTDIR\vantrel.exe" -uninstall'
  Pop $0
  Pop $1
  StrCpy $2 $1 9
  ${If} $2 == "vantrel: "
    StrCpy $1 $1 "" 9
  ${EndIf}
  ${Do}
    StrCpy $2 $1 1 -1
    ${If} $2 != "$\r"
    ${AndIf} $2 != "$\n"
      ${Break}
    ${EndIf}
    StrCpy $1 $1 -1
  ${Loop}
  ${If} $0 == 2
  ${AndIfNot} ${Silent}
    MessageBox MB_YESNO|MB_ICONEXCLAMATION|MB_DEFBUTTON2 "${PRODUCT} could not remove its block from the hosts file: $1$\r$\n$\r$\nUninstall ${PRODUCT} anyway? Those lines then stay in the hosts file until you delete them. Choose No to keep ${PRODUCT} installed." IDYES uninstall_anyway
    SetErrorLevel 3
    Quit
  ${ElseIf} $0 != 0
    ${If} $1 == ""
      StrCpy $1 "$INSTDIR\vantrel.exe could not be run."
    ${EndIf}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} has not been uninstalled: $1" /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}
uninstall_anyway:
  ; The service goes before its program: stopped, then removed.
  ExecWait '"$INSTDIR\vantrel-service.exe" -remove'
  Delete "$INSTDIR\vantrel-service.exe"
  ; What the program kept beside the hosts file: its lock file, and the temporary files of a
  ; write that was stopped halfway.
  Delete "$SYSDIR\drivers\etc\.hosts.vantrel-lock"
  Delete "$SYSDIR\drivers\etc\.hosts.vantrel-tmp-*"

  StrCpy $KeptSettings 0
  ${If} ${FileExists} "$INSTDIR\vantrel_settings.txt"
    InitPluginsDir
    SetOutPath "$PLUGINSDIR\shipped"
    File "${SHIPPED}/*.txt"
    SetOutPath "$PLUGINSDIR"
    StrCpy $1 "$INSTDIR\vantrel_settings.txt"
    Call un.IsShippedSettings
    ${If} $0 = 1
      Delete "$INSTDIR\vantrel_settings.txt"
    ${Else}
      StrCpy $KeptSettings 1
    ${EndIf}
  ${EndIf}

  !insertmacro REMOVE_PROGRAM
  Delete "$INSTDIR\help.txt"
  Delete "$INSTDIR\${UNINSTALLER}"
  ${If} ${FileExists} "$INSTDIR\vantrel-old.exe"
    RMDir /REBOOTOK "$INSTDIR"
  ${Else}
    RMDir "$INSTDIR"
  ${EndIf}
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKLM "${ENTRY}"
SectionEnd

Function un.onUninstSuccess
  StrCpy $0 "${PRODUCT} has been removed from this computer."
  ${If} $KeptSettings = 1
    StrCpy $0 "$0$\r$\n$\r$\nYour list of domains is kept in $INSTDIR\vantrel_settings.txt."
  ${EndIf}
  ClearErrors
  EnumRegValue $1 HKCU "${PREFS}" 0
  ${IfNot} ${Errors}
  ${AndIf} $1 != ""
    StrCpy $0 "$0$\r$\n$\r$\nYour address and the date of the last upgrade check are kept in the registry under HKEY_CURRENT_USER\${PREFS}."
  ${EndIf}
  MessageBox MB_OK|MB_ICONINFORMATION "$0" /SD IDOK
FunctionEnd
