; PondoSetup.exe: installs the dialer, its companion library, the texts file and
; the user settings file, with a Start-menu shortcut and an uninstaller.
;
; Built by installer/CMakeLists.txt, which passes:
;   PONDO_EXE, OSTREL_DLL        the deliverables
;   TEXTS_EN, TEXTS_ZH           KELSupplicant.ini in English and in Simplified Chinese
;   USER_CONF                    the initial kelsupplicant.conf
;   VERSION_HEADER               ProductVersion.h (name, version, copyright)
;   OUTFILE, TARGET              the setup program and its NSIS target (x86-unicode)
;
; Silent use: PondoSetup.exe /S [/TEXTS=en|zh_CN] [/D=folder]
;             Uninstall.exe /S
; No plug-ins are used, so the script also builds for the amd64 target that the
; 64-bit test tree needs.

Unicode true
!ifdef TARGET
  Target ${TARGET}
!endif

!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"

!searchparse /file "${VERSION_HEADER}" `#define PONDO_PRODUCT_NAME "` PRODUCT `"`
!searchparse /file "${VERSION_HEADER}" `#define PONDO_COMPANY_NAME "` COMPANY `"`
!searchparse /file "${VERSION_HEADER}" `#define PONDO_COPYRIGHT "` COPYRIGHT `"`
!searchparse /file "${VERSION_HEADER}" `#define PONDO_VERSION_TEXT "` VERSION `"`
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pondo"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
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

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "!${PRODUCT}" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=Pondo.exe" "${PONDO_EXE}"
  File "/oname=Ostrel.dll" "${OSTREL_DLL}"
  File "/oname=KELSupplicant.ini" "${TEXTS_EN}"
  ; The dialer only rewrites the lines of this file and never creates it or adds a
  ; line, so it must be here with its three lines. A reinstall keeps the user's.
  SetOverwrite off
  File "/oname=kelsupplicant.conf" "${USER_CONF}"
  SetOverwrite on
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  ; A shortcut's working folder is the output path at the time it is made. The
  ; dialer opens its files relative to its current folder, so it must be $INSTDIR.
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\Pondo.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\Uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Pondo.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
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
FunctionEnd

; Removes what the setup installed and what the dialer and its library leave
; beside it: previous copies that the library's self-update keeps ("<name>old"),
; its download folder, description and signature, and its record of the release
; installed. Other files in the folder are kept, and
; the folder with them.
!macro RemoveInstalled NAME
  Delete "$INSTDIR\${NAME}"
  Delete "$INSTDIR\${NAME}old"
!macroend

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  !insertmacro RemoveInstalled "Pondo.exe"
  !insertmacro RemoveInstalled "Ostrel.dll"
  !insertmacro RemoveInstalled "KELSupplicant.ini"
  !insertmacro RemoveInstalled "kelsupplicant.conf"
  Delete "$INSTDIR\updateFileInfoTmp.ini"
  Delete "$INSTDIR\updateFileInfoTmp.sig"
  Delete "$INSTDIR\updateRelease.dat"
  Delete "$INSTDIR\updateRelease.tmp"
  RMDir /r "$INSTDIR\temp"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
