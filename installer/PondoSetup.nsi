; PondoSetup.exe: installs the dialer, its companion library, the texts file and
; (for one user) the user settings file, with a Start-menu shortcut and an
; uninstaller.
;
; Two install models:
;   for the current user (default)  no administrator rights; the user's own
;       programs folder (%LOCALAPPDATA%\Programs), uninstall entry and Start menu.
;       The folder is the user's, so the credentials file, the library's
;       self-update and its "temp\" folder work beside the program.
;   for everyone (/ALLUSERS, or the choice on the "who" page)  administrator
;       rights; Program Files, which users cannot change, so no file the dialer
;       loads can be replaced by another user. The dialer then keeps each user's
;       credentials file in that user's %APPDATA%\Pondo, and the library cannot
;       update itself there (its update fails and changes nothing).
;
; Pages: the language (English or Simplified Chinese, the system's by default;
; the dialer's own texts are a separate choice), welcome, who, components,
; folder, progress, finish (which can start the dialer). The uninstaller speaks
; the language chosen at install.
;
; A running dialer: setup and uninstall find it by its single-instance mutex and
; window, both named by the title of the texts file in the program folder. The
; user is asked to close it; a silent run closes it through its own Exit button,
; which hangs the connection up. Neither ever reports success with a file of the
; product left behind: the uninstaller then keeps itself and its entry, so it can
; be run again.
;
; Built by installer/CMakeLists.txt, which passes:
;   PONDO_EXE, OSTREL_DLL        the deliverables
;   TEXTS_EN, TEXTS_ZH           KELSupplicant.ini in English and in Simplified Chinese
;   USER_CONF                    the initial kelsupplicant.conf
;   VERSION_HEADER               ProductVersion.h (name, version, copyright)
;   SETUP_ICON, WIZARD_BITMAP    the dialer's icon and the welcome page's picture
;   OUTFILE, TARGET              the setup program and its NSIS target (x86-unicode)
; This file is UTF-8 (makensis -INPUTCHARSET UTF8).
;
; Silent use: PondoSetup.exe /S [/ALLUSERS] [/TEXTS=en|zh_CN] [/D=folder]
;             Uninstall.exe /S
; Exit codes: 0 done; 2 an unknown /TEXTS= or an aborted run; 32 the dialer was
; running and could not be closed, or (uninstall) a file of the product is still
; in use and was left; 740 administrator rights needed.
; Every install writes setup.log beside the program: who it is for, the folder,
; and whether the packet capture driver the dialer needs was found. A silent
; install without the driver still succeeds and says so there.
; The plug-ins used (nsDialogs, UserInfo, LangDLL, System) ship with NSIS for
; every target, so the script also builds for the amd64 target that the 64-bit
; test tree needs.

Unicode true
!ifdef TARGET
  Target ${TARGET}
!endif

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"
!include "nsDialogs.nsh"
!include "WinMessages.nsh"

!searchparse /file "${VERSION_HEADER}" `#define PONDO_PRODUCT_NAME "` PRODUCT `"`
!searchparse /file "${VERSION_HEADER}" `#define PONDO_COMPANY_NAME "` COMPANY `"`
!searchparse /file "${VERSION_HEADER}" `#define PONDO_COPYRIGHT "` COPYRIGHT `"`
!searchparse /file "${VERSION_HEADER}" `#define PONDO_VERSION_TEXT "` VERSION `"`
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pondo"
!define ERROR_SHARING_VIOLATION 32
!define ERROR_ELEVATION_REQUIRED 740
!define DIALER_EXIT_BUTTON 1002   ; the main dialog's Exit button
!define DIALER_CLOSE_MS 30000     ; how long a silent run waits for the dialer to end
!define PHONEBOOK_ENTRY "PPPOE Connection"

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
BrandingText "${PRODUCT} ${VERSION}"
; A file that cannot be written (in use) is never skipped: retry or give up.
AllowSkipFiles off

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
Var LanguageGiven ; 1: /LANGUAGE= on the command line (the elevated restart)
Var Driver        ; the capture driver's library, or empty
Var FinishText
Var RadioMe
Var RadioAll

; -- the look ------------------------------------------------------------------

!define MUI_ICON "${SETUP_ICON}"
!define MUI_UNICON "${SETUP_ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${WIZARD_BITMAP}"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${WIZARD_BITMAP}"
!define MUI_ABORTWARNING
!define MUI_UNABORTWARNING
; The progress pages stay until Next, so what was done (and whether a capture
; driver was found) can be read there.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE
; The language page: both languages whatever the system's code page (the setup is
; Unicode), the system's language first. The choice is kept for the uninstaller
; (in the uninstall entry), but a new setup starts from the system's language again.
!define MUI_LANGDLL_ALLLANGUAGES
!define MUI_LANGDLL_INFO "Please select a language."

!insertmacro MUI_PAGE_WELCOME
Page custom ModePage ModePageLeave
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$FinishText"
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "$(RunDialer)"
!define MUI_FINISHPAGE_RUN_FUNCTION StartDialer
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishShow
!insertmacro MUI_PAGE_FINISH

!define MUI_PAGE_CUSTOMFUNCTION_LEAVE un.ConfirmLeave
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_RESERVEFILE_LANGDLL

; -- texts of our own, in both languages ------------------------------------------

!macro Text NAME ENGLISH CHINESE
  LangString ${NAME} ${LANG_ENGLISH} "${ENGLISH}"
  LangString ${NAME} ${LANG_SIMPCHINESE} "${CHINESE}"
!macroend

!insertmacro Text ModeTitle "Who will use ${PRODUCT}?" "谁将使用 ${PRODUCT}？"
!insertmacro Text ModeSubtitle "Install it for yourself, or for everyone who uses this computer." \
  "为您自己安装，或为使用这台计算机的每个人安装。"
!insertmacro Text ModeMe "&Only for me (no administrator rights needed)" \
  "仅为我安装(&O)（不需要管理员权限）"
!insertmacro Text ModeMeText "Installs in your own programs folder. Your user name and password are remembered there, and the dialer's library can update itself." \
  "安装到您自己的程序文件夹。您的用户名和密码保存在那里，拨号程序的组件库可以自行更新。"
!insertmacro Text ModeAll "For &everyone who uses this computer (needs administrator rights)" \
  "为使用这台计算机的每个人安装(&E)（需要管理员权限）"
!insertmacro Text ModeAllText "Installs in Program Files, where users cannot change the program. Each user's name and password are remembered in their own profile. The dialer's library cannot update itself there: install new versions with this setup." \
  "安装到 Program Files，用户无法更改其中的程序。每个用户的用户名和密码保存在各自的用户配置中。拨号程序的组件库无法在那里自行更新：请用本安装程序安装新版本。"
!insertmacro Text NeedAdmin "Installing for everyone needs administrator rights." \
  "为每个人安装需要管理员权限。"
!insertmacro Text NeedAdminStart "Installing for everyone needs administrator rights: start the setup as an administrator." \
  "为每个人安装需要管理员权限：请以管理员身份运行安装程序。"
!insertmacro Text NeedAdminRemove "${PRODUCT} was installed for everyone: removing it needs administrator rights." \
  "${PRODUCT} 是为每个人安装的：卸载它需要管理员权限。"
!insertmacro Text UnknownTexts "Unknown texts '$R1': use /TEXTS=en or /TEXTS=zh_CN." \
  "未知的界面文字“$R1”：请使用 /TEXTS=en 或 /TEXTS=zh_CN。"
!insertmacro Text ChineseTexts "Simplified Chinese texts" "简体中文界面文字"
!insertmacro Text ProgramDescription "The dialer, its library, the texts file, a Start-menu shortcut and an uninstaller." \
  "拨号程序、它的组件库、界面文字文件、“开始”菜单快捷方式和卸载程序。"
!insertmacro Text ChineseDescription "The dialer's labels and messages in Simplified Chinese instead of English. They show where Windows uses Chinese for programs that are not Unicode." \
  "拨号程序的标签和消息使用简体中文而不是英文。当 Windows 对非 Unicode 程序使用中文时才能正确显示。"
!insertmacro Text FinishDriver "${PRODUCT} is installed. The packet capture driver it needs was found ($Driver)." \
  "${PRODUCT} 已安装。已找到它需要的数据包捕获驱动程序 ($Driver)。"
!insertmacro Text FinishNoDriver "${PRODUCT} is installed, but no packet capture driver was found: until one is installed the dialer lists no network adapter and cannot connect. Install Npcap (https://npcap.com), then start the dialer." \
  "${PRODUCT} 已安装，但没有找到数据包捕获驱动程序：在安装驱动程序之前，拨号程序列不出网卡，也无法连接。请安装 Npcap (https://npcap.com)，然后启动拨号程序。"
!insertmacro Text FinishForEveryone " Each user starts it from the Start menu." \
  " 每个用户都可以从“开始”菜单启动它。"
!insertmacro Text RunDialer "&Start ${PRODUCT} now" "立即启动 ${PRODUCT}(&S)"
!insertmacro Text DialerRunning "${PRODUCT} is running. Close it first: if only its icon shows in the notification area, click the icon, then click Exit (this ends its connection). Then click Retry." \
  "${PRODUCT} 正在运行。请先关闭它：如果通知区域中只显示它的图标，请单击该图标，然后单击“退出”（这会断开它的连接）。然后单击“重试”。"
!insertmacro Text DialerClosing "Closing ${PRODUCT} (its connection ends) ..." \
  "正在关闭 ${PRODUCT}（它的连接将断开）……"
!insertmacro Text DialerStillRunning "${PRODUCT} is running and could not be closed." \
  "${PRODUCT} 正在运行，无法关闭。"
!insertmacro Text FilesInUse "These files of ${PRODUCT} are in use and could not be removed:$\r$\n$R0$\r$\n$\r$\nClose ${PRODUCT} and remove it again; the uninstaller stays until then." \
  "${PRODUCT} 的以下文件正在使用，无法删除：$\r$\n$R0$\r$\n$\r$\n请关闭 ${PRODUCT} 后再次卸载；在此之前卸载程序会保留。"

; -- what setup.log says (for the help desk, always in English) --------------------

!define LOG_DRIVER "${PRODUCT} is installed. The packet capture driver it needs was found"
!define LOG_NO_DRIVER "${PRODUCT} is installed, but no packet capture driver was found. The dialer needs one to list your network adapters: until one is installed it shows $\"No available adapter !$\" and cannot connect. Install Npcap (https://npcap.com), then start the dialer."

; -- a running dialer ------------------------------------------------------------

; Setup and uninstall both need these, and an uninstaller's functions carry "un.".
!macro DialerFunctions UN

; $R9: the dialer's title, by which its mutex and window are named: "MainDlgTitle"
; of the texts file in the program folder (the folder the shortcut starts it in),
; read as the dialer reads it, else the product's name.
Function ${UN}DialerTitle
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $R9 "${PRODUCT}"
  ClearErrors
  FileOpen $0 "$INSTDIR\KELSupplicant.ini" r
  ${IfNot} ${Errors}
    ${Do}
      ClearErrors
      FileRead $0 $1  ; one line in the system's code page, with its line end
      ${IfThen} ${Errors} ${|} ${Break} ${|}
      StrCpy $2 $1 12
      ${If} $2 S== "MainDlgTitle"
        ; The value: after the first "=", without the blanks around it, up to a "#".
        StrCpy $1 $1 "" 12
        StrCpy $3 0
        ${Do}
          StrCpy $2 $1 1 $3
          ${If} $2 == "="
          ${OrIf} $2 == ""
            ${Break}
          ${EndIf}
          IntOp $3 $3 + 1
        ${Loop}
        ${If} $2 == "="
          IntOp $3 $3 + 1
          StrCpy $1 $1 "" $3
          Call ${UN}TextValue
          StrCpy $R9 $1
          ${Break}
        ${EndIf}
      ${EndIf}
    ${Loop}
    FileClose $0
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; $1: the rest of a texts file line after "=" -> the value the dialer reads.
Function ${UN}TextValue
  Push $2
  Push $3
  ${Do}
    StrCpy $2 $1 1
    ${IfThen} $2 != " " ${|} ${Break} ${|}
    StrCpy $1 $1 "" 1
  ${Loop}
  StrCpy $3 0
  ${Do}
    StrCpy $2 $1 1 $3
    ${If} $2 == ""
    ${OrIf} $2 == "#"
    ${OrIf} $2 == "$\r"
    ${OrIf} $2 == "$\n"
      ${Break}
    ${EndIf}
    IntOp $3 $3 + 1
  ${Loop}
  StrCpy $1 $1 $3
  ${Do}
    StrCpy $2 $1 1 -1
    ${IfThen} $2 != " " ${|} ${Break} ${|}
    StrCpy $1 $1 -1
  ${Loop}
  Pop $3
  Pop $2
FunctionEnd

; $R8: 1 while a dialer holds its single-instance mutex (named by its title $R9).
; A mutex this account may not open (a dialer of the user whom an administrator's
; elevated setup runs for) is there all the same.
Function ${UN}DialerRunning
  Push $0
  Push $1
  StrCpy $R8 0
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w R9) p .r0 ?e'  ; SYNCHRONIZE
  Pop $1  ; the last error
  ${If} $0 P<> 0
    StrCpy $R8 1
    System::Call 'kernel32::CloseHandle(p r0)'
  ${ElseIf} $1 = 5  ; ERROR_ACCESS_DENIED
    StrCpy $R8 1
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; Presses the Exit button of the dialer's main dialog (the dialog titled $R9 that
; has that button, hidden or not: a connected dialer hides to its icon) and waits
; for the process to end. The dialer's Exit hangs the connection up, removes its
; icon and phonebook entry, and ends.
Function ${UN}ExitDialer
  Push $0
  Push $1
  Push $2
  StrCpy $0 0
  ${Do}
    FindWindow $0 "#32770" "$R9" "" $0
    ${IfThen} $0 P= 0 ${|} ${Break} ${|}
    System::Call 'user32::GetDlgItem(p r0, i ${DIALER_EXIT_BUTTON}) p .r1'
    ${If} $1 P<> 0
      System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r2)'
      System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r2) p .r2'  ; SYNCHRONIZE
      System::Call 'user32::PostMessageW(p r0, i ${WM_COMMAND}, p ${DIALER_EXIT_BUTTON}, p r1)'
      ${If} $2 P<> 0
        System::Call 'kernel32::WaitForSingleObject(p r2, i ${DIALER_CLOSE_MS}) i'
        System::Call 'kernel32::CloseHandle(p r2)'
      ${EndIf}
      ${Break}
    ${EndIf}
  ${Loop}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Makes sure no dialer runs: asks the user to close it (a silent run closes it
; itself). Sets the error flag when one still runs.
Function ${UN}CloseDialer
  Push $0
  Push $R8
  Push $R9
  Call ${UN}DialerTitle
  ${Do}
    Call ${UN}DialerRunning
    ${IfThen} $R8 = 0 ${|} ${Break} ${|}
    ${If} ${Silent}
      DetailPrint "$(DialerClosing)"
      Call ${UN}ExitDialer
      ; The mutex goes with the process; a dialer still starting has no window yet.
      StrCpy $0 0
      ${Do}
        Call ${UN}DialerRunning
        ${IfThen} $R8 = 0 ${|} ${Break} ${|}
        IntOp $0 $0 + 1
        ${IfThen} $0 > 20 ${|} ${Break} ${|}
        Sleep 500
        Call ${UN}ExitDialer
      ${Loop}
      ${Break}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(DialerRunning)" IDRETRY retry
    ${Break}
    retry:
  ${Loop}
  ClearErrors
  ${If} $R8 = 1
    DetailPrint "$(DialerStillRunning)"
    SetErrors
  ${EndIf}
  Pop $R9
  Pop $R8
  Pop $0
FunctionEnd

; The details list shows whole lines: its one column as wide as its longest line
; (with a scroll bar), not cut at the window's edge.
Function ${UN}FitDetails
  FindWindow $0 "#32770" "" $HWNDPARENT
  GetDlgItem $0 $0 1016
  ${If} $0 <> 0
    SendMessage $0 ${LVM_SETCOLUMNWIDTH} 0 ${LVSCW_AUTOSIZE}
    System::Call 'user32::InvalidateRect(p r0, p 0, i 1)'
  ${EndIf}
FunctionEnd

!macroend
!insertmacro DialerFunctions ""
!insertmacro DialerFunctions "un."

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
  !insertmacro MUI_HEADER_TEXT "$(ModeTitle)" "$(ModeSubtitle)"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateRadioButton} 0u 0u 100% 12u "$(ModeMe)"
  Pop $RadioMe
  ${NSD_CreateLabel} 12u 14u -12u 30u "$(ModeMeText)"
  Pop $0
  ${NSD_CreateRadioButton} 0u 54u 100% 12u "$(ModeAll)"
  Pop $RadioAll
  ${NSD_CreateLabel} 12u 68u -12u 40u "$(ModeAllText)"
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
      ; Start again with administrator rights (the system asks), for everyone, in
      ; the language chosen here; this copy ends. Refused, the user stays here.
      ; (The command line as this copy got it has no /D=, which must come last.)
      ${GetParameters} $2
      StrCpy $3 ""
      ${If} $FolderGiven == 1
        StrCpy $3 " /D=$INSTDIR"
      ${EndIf}
      ClearErrors
      ExecShell "runas" "$EXEPATH" "/LANGUAGE=$LANGUAGE $2 /ALLUSERS$3"
      ${If} ${Errors}
        MessageBox MB_ICONEXCLAMATION "$(NeedAdmin)"
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

Function DirectoryLeave
  ; The files about to be replaced must not be in use.
  Call CloseDialer
  ${If} ${Errors}
    Abort
  ${EndIf}
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
    StrCpy $FinishText "$(FinishNoDriver)"
  ${Else}
    StrCpy $FinishText "$(FinishDriver)"
  ${EndIf}
  ${If} $AllUsers == 1
    StrCpy $FinishText "$FinishText$(FinishForEveryone)"
  ${EndIf}
FunctionEnd

; -- install -------------------------------------------------------------------

Section "!${PRODUCT}" SecProgram
  SectionIn RO
  Call CloseDialer
  ${If} ${Errors}
    SetErrorLevel ${ERROR_SHARING_VIOLATION}
    Abort
  ${EndIf}
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
  ; The uninstaller's language, also after a silent install.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Installer Language" $LANGUAGE

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
    FileWrite $0 "${LOG_NO_DRIVER}$\r$\n"
  ${Else}
    FileWrite $0 "capture driver: $Driver$\r$\n"
    FileWrite $0 "${LOG_DRIVER} ($Driver).$\r$\n"
  ${EndIf}
  FileClose $0
SectionEnd

; Replaces the English texts. Windows must use code page 936 for programs that
; are not Unicode (a Chinese system locale) to show them.
Section /o "$(ChineseTexts)" SecChinese
  SetOutPath "$INSTDIR"
  File "/oname=KELSupplicant.ini" "${TEXTS_ZH}"
SectionEnd

Section "-fit the details"
  Call FitDetails
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "$(ProgramDescription)"
  !insertmacro MUI_DESCRIPTION_TEXT ${SecChinese} "$(ChineseDescription)"
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; The finish page offers to start the dialer only where this setup runs with the
; user's own rights. A setup for everyone runs elevated, possibly as another
; account (an administrator who typed their password for the user), and a dialer
; it started would run, dial and keep its credentials as that account.
Function FinishShow
  ${If} $AllUsers == 1
    SendMessage $mui.FinishPage.Run ${BM_SETCHECK} ${BST_UNCHECKED} 0
    ShowWindow $mui.FinishPage.Run ${SW_HIDE}
  ${EndIf}
FunctionEnd

Function StartDialer
  ; In its folder, as the shortcut starts it: it opens its files from there.
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\Pondo.exe"'
FunctionEnd

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/LANGUAGE=" $R1
  ${IfNot} ${Errors}
    StrCpy $LANGUAGE $R1
    StrCpy $LanguageGiven 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/TEXTS=" $R1
  ${IfNot} ${Errors}
    ${If} $R1 == "zh_CN"
      !insertmacro SelectSection ${SecChinese}
    ${ElseIf} $R1 == "en"
      !insertmacro UnselectSection ${SecChinese}
    ${Else}
      MessageBox MB_ICONSTOP "$(UnknownTexts)" /SD IDOK
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
      MessageBox MB_ICONSTOP "$(NeedAdminStart)" /SD IDOK
      SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
      Abort
    ${EndIf}
  ${EndIf}
  Call ApplyMode
  ${If} $LanguageGiven != 1
    !insertmacro MUI_LANGDLL_DISPLAY
  ${EndIf}
FunctionEnd

; -- uninstall -----------------------------------------------------------------

; Removes what the setup installed and what the dialer and its library leave
; beside it: previous copies that the library's self-update keeps ("<name>old"),
; its download folder, description and signature, and its record of the release
; installed; a settings file's replacement left by a crash ("<name>.tmp"). Other
; files in the folder are kept, and the folder with them.
!macro RemoveInstalled NAME
  Delete "$INSTDIR\${NAME}"
  Delete "$INSTDIR\${NAME}old"
!macroend

; Adds PATH to the list in $R0 when it still exists.
!macro NoteLeft PATH
  ${If} ${FileExists} "${PATH}"
    StrCpy $R0 "$R0$\r$\n${PATH}"
  ${EndIf}
!macroend

Function un.onInit
  ; Installed for everyone when the machine's uninstall entry names this folder.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    StrCpy $AllUsers 1
    SetShellVarContext all
  ${Else}
    StrCpy $AllUsers 0
    SetShellVarContext current
  ${EndIf}
  ; The language the setup spoke, else the system's.
  ReadRegStr $1 SHCTX "${UNINSTALL_KEY}" "Installer Language"
  ${If} $1 == ${LANG_ENGLISH}
  ${OrIf} $1 == ${LANG_SIMPCHINESE}
    StrCpy $LANGUAGE $1
  ${EndIf}
  ${If} $AllUsers == 1
    !insertmacro IsAdmin $1
    ${If} $1 != "Admin"
      MessageBox MB_ICONSTOP "$(NeedAdminRemove)" /SD IDOK
      SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.ConfirmLeave
  Call un.CloseDialer
  ${If} ${Errors}
    Abort
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.CloseDialer
  ${If} ${Errors}
    SetErrorLevel ${ERROR_SHARING_VIOLATION}
    Abort
  ${EndIf}

  !insertmacro RemoveInstalled "Pondo.exe"
  !insertmacro RemoveInstalled "Ostrel.dll"
  !insertmacro RemoveInstalled "KELSupplicant.ini"
  !insertmacro RemoveInstalled "kelsupplicant.conf"
  Delete "$INSTDIR\kelsupplicant.conf.tmp"
  Delete "$INSTDIR\setup.log"
  Delete "$INSTDIR\updateFileInfoTmp.ini"
  Delete "$INSTDIR\updateFileInfoTmp.sig"
  Delete "$INSTDIR\updateRelease.dat"
  Delete "$INSTDIR\updateRelease.tmp"
  RMDir /r "$INSTDIR\temp"

  ; What the dialer keeps in the profile of whoever uninstalls: the credentials
  ; file (of an install for everyone, or where the program folder had none), the
  ; connection log and its previous generation, and a replacement a crash left.
  ; Other files there are kept, and the folder with them.
  SetShellVarContext current
  StrCpy $R1 "$APPDATA\Pondo"
  Delete "$APPDATA\Pondo\kelsupplicant.conf"
  Delete "$APPDATA\Pondo\kelsupplicant.conf.tmp"
  Delete "$APPDATA\Pondo\connection.log"
  Delete "$APPDATA\Pondo\connection.previous.log"
  RMDir "$APPDATA\Pondo"
  ; The phonebook entry, where a dialer that did not close left it (the dialer
  ; writes it in the user's own phonebook and deletes it when it closes).
  StrCpy $0 "$APPDATA\Microsoft\Network\Connections\Pbk\rasphone.pbk"
  ${If} ${FileExists} $0
    System::Call 'rasapi32::RasDeleteEntryA(m r0, m "${PHONEBOOK_ENTRY}") i .r1'
  ${EndIf}
  ${If} $AllUsers == 1
    SetShellVarContext all
  ${EndIf}

  ; Anything of ours still here is in use (a dialer this uninstaller could not
  ; find, started from another folder with another title): say so, and keep the
  ; uninstaller, its entry and the shortcuts so that it can be run again.
  StrCpy $R0 ""
  !insertmacro NoteLeft "$INSTDIR\Pondo.exe"
  !insertmacro NoteLeft "$INSTDIR\Ostrel.dll"
  !insertmacro NoteLeft "$INSTDIR\KELSupplicant.ini"
  !insertmacro NoteLeft "$INSTDIR\kelsupplicant.conf"
  !insertmacro NoteLeft "$INSTDIR\Pondo.exeold"
  !insertmacro NoteLeft "$INSTDIR\Ostrel.dllold"
  !insertmacro NoteLeft "$INSTDIR\temp"
  !insertmacro NoteLeft "$R1\kelsupplicant.conf"
  !insertmacro NoteLeft "$R1\connection.log"
  ${If} $R0 != ""
    DetailPrint "$(FilesInUse)"
    MessageBox MB_ICONSTOP "$(FilesInUse)" /SD IDOK
    Call un.FitDetails
    SetErrorLevel ${ERROR_SHARING_VIOLATION}
    Abort
  ${EndIf}

  ; Started from the program folder, the uninstaller runs as a copy of itself in the
  ; temporary folder; the one it was started as may still be ending.
  StrCpy $0 0
  ${Do}
    Delete "$INSTDIR\Uninstall.exe"
    ${IfNotThen} ${FileExists} "$INSTDIR\Uninstall.exe" ${|} ${Break} ${|}
    IntOp $0 $0 + 1
    ${IfThen} $0 >= 20 ${|} ${Break} ${|}
    Sleep 500
  ${Loop}
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  Call un.FitDetails
SectionEnd
