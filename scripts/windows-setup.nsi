; SPDX-License-Identifier: MIT
; The Windows setup program (make dist: scripts/dist.sh runs makensis on it). A 64-bit
; installer for 64-bit Windows, per machine: planewic.dll of both widths registered with the
; Windows Imaging Component (the 64-bit one in the installer's process, the 32-bit one by the
; 32-bit regsvr32), planeconv.exe and the import plug-ins of both widths in the install folder,
; and an uninstaller listed in Apps & features that takes all of it away again. /S installs and
; uninstalls silently.
;
;   makensis -DVERSION=0.1.0 -DSOURCE=DIR -DOUTFILE=FILE windows-setup.nsi
;   DIR: README.txt, LICENSE.txt, x86\ and x64\ as the zip has them, each with planewic.dll
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
!include LogicLib.nsh
!include x64.nsh

!define PRODUCT planeplugins
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "This setup is for 64-bit Windows. On 32-bit Windows, use the x86 folder of the release zip." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  File "${SOURCE}\README.txt"
  File "${SOURCE}\LICENSE.txt"
  SetOutPath "$INSTDIR\x64"
  File "${SOURCE}\x64\planewic.dll"
  File "${SOURCE}\x64\planeconv.exe"
  File "${SOURCE}\x64\gradec.sph"
  File "${SOURCE}\x64\qdec.sph"
  SetOutPath "$INSTDIR\x86"
  File "${SOURCE}\x86\planewic.dll"
  File "${SOURCE}\x86\planeconv.exe"
  File "${SOURCE}\x86\gradec.spi"
  File "${SOURCE}\x86\qdec.spi"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The codec for 64-bit programs, then for 32-bit ones.
  ClearErrors
  RegDLL "$INSTDIR\x64\planewic.dll"
  ${If} ${Errors}
    DetailPrint "planewic.dll (64-bit) could not be registered"
    SetErrorLevel 2
  ${EndIf}
  ClearErrors
  ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" /s "$INSTDIR\x86\planewic.dll"' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    DetailPrint "planewic.dll (32-bit) could not be registered: 32-bit programs will not read the pictures"
  ${EndIf}

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION} (GRA and Q pictures)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "the planeplugins authors"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" /u /s "$INSTDIR\x86\planewic.dll"'
  UnRegDLL "$INSTDIR\x64\planewic.dll"
  Delete "$INSTDIR\x64\planewic.dll"
  Delete "$INSTDIR\x64\planeconv.exe"
  Delete "$INSTDIR\x64\gradec.sph"
  Delete "$INSTDIR\x64\qdec.sph"
  Delete "$INSTDIR\x86\planewic.dll"
  Delete "$INSTDIR\x86\planeconv.exe"
  Delete "$INSTDIR\x86\gradec.spi"
  Delete "$INSTDIR\x86\qdec.spi"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR\x64"
  RMDir "$INSTDIR\x86"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
