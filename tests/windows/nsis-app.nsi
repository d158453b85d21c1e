; A small real program as most are shipped: a 32-bit NSIS installer whose uninstaller copies itself
; to %TEMP% and runs from there, registered in the 32-bit view of HKLM.
; makensis -DOUTFILE=<installer.exe> [-DSILENT] [-DLEAVE_TRACES] nsis-app.nsi
; With LEAVE_TRACES it also writes settings, shortcuts and its own keys, and its uninstaller leaves them
; behind, as many real ones do.
Unicode true
Name "K NSIS App"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\K NSIS App"
RequestExecutionLevel admin
!ifdef SILENT
SilentInstall silent
SilentUnInstall silent
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KNsisApp"

Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
    SetOutPath "$INSTDIR"
    FileOpen $0 "$INSTDIR\readme.txt" w
    FileWrite $0 "K NSIS App$\r$\n"
    FileClose $0
    WriteUninstaller "$INSTDIR\uninst.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "K NSIS App"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninst.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\uninst.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "K Test"
!ifdef LEAVE_TRACES
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    CreateDirectory "$INSTDIR\settings"
    FileOpen $0 "$INSTDIR\settings\app.ini" w
    FileWrite $0 "[view]$\r$\ntheme=dark$\r$\n"
    FileClose $0
    CreateDirectory "$SMPROGRAMS\K NSIS App"
    CreateShortcut "$SMPROGRAMS\K NSIS App\Readme.lnk" "$INSTDIR\readme.txt"
    CreateShortcut "$SMPROGRAMS\K NSIS App\Uninstall.lnk" "$INSTDIR\uninst.exe"
    WriteRegStr HKLM "Software\K Test\K NSIS App" "InstallDir" "$INSTDIR"
    WriteRegStr HKCU "Software\K Test\K NSIS App" "Theme" "dark"
!endif
SectionEnd

Section "Uninstall"
    Delete "$INSTDIR\readme.txt"
    Delete "$INSTDIR\uninst.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
