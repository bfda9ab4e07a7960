; PondoSetup.exe: installs the dialer, its companion library, the texts file and
; (for one user) the user settings file, with a Start-menu shortcut and an
; uninstaller.
;
; Two install models:
;   for the current user (default)  no administrator rights; the user's own
;       programs folder (%LOCALAPPDATA%\Programs), uninstall entry and Start menu.
;       The folder is the user's, so the credentials file, the library's
;       self-update and its "temp\" folder work beside the program.
;   for everyone (/ALLUSERS, or the choice on the first page)  administrator
;       rights; Program Files, which users cannot change, so no file the dialer
;       loads can be replaced by another user. The dialer then keeps each user's
;       credentials file in that user's %APPDATA%\Pondo, and the library cannot
;       update itself there (its update fails and changes nothing).
;
; Built by installer/CMakeLists.txt, which passes:
;   PONDO_EXE, OSTREL_DLL        the deliverables
;   TEXTS_EN, TEXTS_ZH           KELSupplicant.ini in English and in Simplified Chinese
;   USER_CONF                    the initial kelsupplicant.conf
;   VERSION_HEADER               ProductVersion.h (name, version, copyright)
;   OUTFILE, TARGET              the setup program and its NSIS target (x86-unicode)
;
; Silent use: PondoSetup.exe /S [/ALLUSERS] [/TEXTS=en|zh_CN] [/D=folder]
;             Uninstall.exe /S
; Every install writes setup.log beside the program: who it is for, the folder,
; and whether the packet capture driver the dialer needs was found. A silent
; install without the driver still succeeds and says so there. /ALLUSERS without
; administrator rights installs nothing and exits with 740 (elevation required).
; The plug-ins used (nsDialogs, UserInfo) ship with NSIS for every target, so the
; script also builds for the amd64 target that the 64-bit test tree needs.

Unicode true
!ifdef TARGET
  Target ${TARGET}
!endif

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"
!include "nsDialogs.nsh"

!searchparse /file "${VERSION_HEADER}" `#define PONDO_PRODUCT_NAME "` PRODUCT `"`
!searchparse /file "${VERSION_HEADER}" `#define PONDO_COMPANY_NAME "` COMPANY `"`
!searchparse /file "${VERSION_HEADER}" `#define PONDO_COPYRIGHT "` COPYRIGHT `"`
!searchparse /file "${VERSION_HEADER}" `#define PONDO_VERSION_TEXT "` VERSION `"`
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pondo"
!define ERROR_ELEVATION_REQUIRED 740

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; No InstallDir: the default folder depends on whom the install is for.
; asInvoker: a per-user install must not ask for elevation, and a setup that
; states its level is never virtualised, so nothing lands in a VirtualStore.
RequestExecutionLevel user
ManifestSupportedOS Win7 Win8 Win8.1 Win10
ManifestDPIAware true
ManifestDPIAwareness "PerMonitorV2,System"
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${COMPANY}"
VIAddVersionKey "LegalCopyright" "${COPYRIGHT}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"

Var AllUsers      ; 1: for everyone, 0: for the current user
Var ModeGiven     ; 1: /ALLUSERS or /CURRENTUSER on the command line
Var FolderGiven   ; 1: /D= on the command line
Var Driver        ; the capture driver's library, or empty
Var FinishText
Var RadioMe
Var RadioAll

Page custom ModePage ModePageLeave
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$FinishText"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; -- whom the install is for ---------------------------------------------------

!macro IsAdmin RESULT
  UserInfo::GetAccountType
  Pop ${RESULT}
!macroend

; Shell folders, HKCU or HKLM (SHCTX) and the default folder follow the choice.
Function ApplyMode
  ${If} $AllUsers == 1
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
  ${If} $FolderGiven != 1
    ReadRegStr $INSTDIR SHCTX "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $INSTDIR == ""
      ${If} $AllUsers == 1
        StrCpy $INSTDIR "$PROGRAMFILES\${PRODUCT}"
      ${Else}
        ; The per-user programs folder (FOLDERID_UserProgramFiles).
        StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
      ${EndIf}
    ${EndIf}
  ${EndIf}
FunctionEnd

Function ModePage
  ${If} $ModeGiven == 1
    Abort  ; decided on the command line (or by the elevated start below)
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "Who will use ${PRODUCT}?" \
    "Install it for yourself, or for everyone who uses this computer."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateRadioButton} 0u 0u 100% 12u "&Only for me (no administrator rights needed)"
  Pop $RadioMe
  ${NSD_CreateLabel} 12u 14u -12u 30u "Installs in your own programs folder. Your user name and password are remembered there, and the dialer's library can update itself."
  Pop $0
  ${NSD_CreateRadioButton} 0u 54u 100% 12u "For &everyone who uses this computer (needs administrator rights)"
  Pop $RadioAll
  ${NSD_CreateLabel} 12u 68u -12u 40u "Installs in Program Files, where users cannot change the program. Each user's name and password are remembered in their own profile. The dialer's library cannot update itself there: install new versions with this setup."
  Pop $0
  ${If} $AllUsers == 1
    ${NSD_Check} $RadioAll
  ${Else}
    ${NSD_Check} $RadioMe
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ModePageLeave
  ${NSD_GetState} $RadioAll $0
  ${If} $0 == ${BST_CHECKED}
    !insertmacro IsAdmin $1
    ${If} $1 != "Admin"
      ; Start again with administrator rights (the system asks), for everyone;
      ; this copy ends. Refused, the user stays on this page.
      ${GetParameters} $2
      ClearErrors
      ExecShell "runas" "$EXEPATH" "$2 /ALLUSERS"
      ${If} ${Errors}
        MessageBox MB_ICONEXCLAMATION "Installing for everyone needs administrator rights."
        Abort
      ${EndIf}
      Quit
    ${EndIf}
    StrCpy $AllUsers 1
  ${Else}
    StrCpy $AllUsers 0
  ${EndIf}
  Call ApplyMode
FunctionEnd

; -- the packet capture driver ---------------------------------------------------

; Where the dialer and its library look for the driver's user library: its own
; folder under the system folder (Npcap's), then the system folder (WinPcap, or
; Npcap's compatible mode). A 32-bit setup on 64-bit Windows sees SysWOW64 there,
; as the 32-bit dialer does.
Function DetectCaptureDriver
  StrCpy $Driver ""
  ${If} ${FileExists} "$SYSDIR\Npcap\packet.dll"
    StrCpy $Driver "$SYSDIR\Npcap\packet.dll"
  ${ElseIf} ${FileExists} "$SYSDIR\packet.dll"
    StrCpy $Driver "$SYSDIR\packet.dll"
  ${EndIf}
  ${If} $Driver == ""
    StrCpy $FinishText "${PRODUCT} is installed, but no packet capture driver was found. The dialer needs one to list your network adapters: until one is installed it shows $\"No available adapter !$\" and cannot connect. Install Npcap (https://npcap.com), then start the dialer."
  ${Else}
    StrCpy $FinishText "${PRODUCT} is installed. The packet capture driver it needs was found ($Driver)."
  ${EndIf}
FunctionEnd

; -- install -------------------------------------------------------------------

Section "!${PRODUCT}" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=Pondo.exe" "${PONDO_EXE}"
  File "/oname=Ostrel.dll" "${OSTREL_DLL}"
  File "/oname=KELSupplicant.ini" "${TEXTS_EN}"
  ${If} $AllUsers == 1
    ; Users cannot write here, so each keeps the credentials file in their own
    ; profile (the dialer makes it there). A copy here from an earlier setup would
    ; be read by nobody, and could hold a saved password every user can read.
    Delete "$INSTDIR\kelsupplicant.conf"
  ${Else}
    ; The dialer only rewrites the lines of this file and never adds a line, so it
    ; must be here with its three lines. A reinstall keeps the user's.
    SetOverwrite off
    File "/oname=kelsupplicant.conf" "${USER_CONF}"
    SetOverwrite on
  ${EndIf}
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  ; A shortcut's working folder is the output path at the time it is made. The
  ; dialer opens its files relative to its current folder, so it must be $INSTDIR.
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\Pondo.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\Uninstall.exe"

  ; SHCTX: HKLM for everyone, HKCU for the current user.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Pondo.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1

  Call DetectCaptureDriver
  DetailPrint "$FinishText"
  FileOpen $0 "$INSTDIR\setup.log" w
  ${If} $AllUsers == 1
    FileWrite $0 "installed for: everyone$\r$\n"
  ${Else}
    FileWrite $0 "installed for: current user$\r$\n"
  ${EndIf}
  FileWrite $0 "folder: $INSTDIR$\r$\n"
  ${If} $Driver == ""
    FileWrite $0 "capture driver: not found$\r$\n"
  ${Else}
    FileWrite $0 "capture driver: $Driver$\r$\n"
  ${EndIf}
  FileWrite $0 "$FinishText$\r$\n"
  FileClose $0
SectionEnd

; Replaces the English texts. Windows must use code page 936 for programs that
; are not Unicode (a Chinese system locale) to show them.
Section /o "Simplified Chinese texts" SecChinese
  SetOutPath "$INSTDIR"
  File "/oname=KELSupplicant.ini" "${TEXTS_ZH}"
SectionEnd

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/TEXTS=" $R1
  ${IfNot} ${Errors}
    ${If} $R1 == "zh_CN"
      !insertmacro SelectSection ${SecChinese}
    ${ElseIf} $R1 == "en"
      !insertmacro UnselectSection ${SecChinese}
    ${Else}
      MessageBox MB_ICONSTOP "Unknown texts '$R1': use /TEXTS=en or /TEXTS=zh_CN." /SD IDOK
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}

  ; /D= sets the folder before this function runs.
  ${If} $INSTDIR != ""
    StrCpy $FolderGiven 1
  ${EndIf}
  StrCpy $AllUsers 0
  ClearErrors
  ${GetOptions} $R0 "/ALLUSERS" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
    StrCpy $ModeGiven 1
  ${Else}
    ClearErrors
    ${GetOptions} $R0 "/CURRENTUSER" $R1
    ${IfNot} ${Errors}
      StrCpy $ModeGiven 1
    ${ElseIfNot} ${Silent}
      ; Offer to update an install for everyone where there is one.
      ReadRegStr $R1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
      ${If} $R1 != ""
        StrCpy $AllUsers 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ${If} $AllUsers == 1
  ${AndIf} $ModeGiven == 1
    !insertmacro IsAdmin $R1
    ${If} $R1 != "Admin"
      MessageBox MB_ICONSTOP "Installing for everyone needs administrator rights: start the setup as an administrator." /SD IDOK
      SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
      Abort
    ${EndIf}
  ${EndIf}
  Call ApplyMode
FunctionEnd

; -- uninstall -----------------------------------------------------------------

; Removes what the setup installed and what the dialer and its library leave
; beside it: previous copies that the library's self-update keeps ("<name>old"),
; its download folder, description and signature, and its record of the release
; installed. Other files in the folder are kept, and
; the folder with them.
!macro RemoveInstalled NAME
  Delete "$INSTDIR\${NAME}"
  Delete "$INSTDIR\${NAME}old"
!macroend

Function un.onInit
  ; Installed for everyone when the machine's uninstall entry names this folder.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    StrCpy $AllUsers 1
    !insertmacro IsAdmin $1
    ${If} $1 != "Admin"
      MessageBox MB_ICONSTOP "${PRODUCT} was installed for everyone: removing it needs administrator rights." /SD IDOK
      SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
      Abort
    ${EndIf}
    SetShellVarContext all
  ${Else}
    StrCpy $AllUsers 0
    SetShellVarContext current
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  !insertmacro RemoveInstalled "Pondo.exe"
  !insertmacro RemoveInstalled "Ostrel.dll"
  !insertmacro RemoveInstalled "KELSupplicant.ini"
  !insertmacro RemoveInstalled "kelsupplicant.conf"
  Delete "$INSTDIR\setup.log"
  Delete "$INSTDIR\updateFileInfoTmp.ini"
  Delete "$INSTDIR\updateFileInfoTmp.sig"
  Delete "$INSTDIR\updateRelease.dat"
  Delete "$INSTDIR\updateRelease.tmp"
  RMDir /r "$INSTDIR\temp"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  DeleteRegKey SHCTX "${UNINSTALL_KEY}"

  ; The credentials file the dialer keeps in the profile of whoever uninstalls (in
  ; a machine-wide install, or when the program folder had none). Other files of
  ; the dialer's there are kept, and the folder with them.
  SetShellVarContext current
  Delete "$APPDATA\Pondo\kelsupplicant.conf"
  RMDir "$APPDATA\Pondo"
SectionEnd
