; Vistrel's Windows installer: a per-user installation without administrator rights.
; Built by scripts/package.sh, which defines:
;   VERSION        the program version (1.5.2.1); FILE_VERSION the same in four parts
;   SOURCE         the portable folder to install (Vistrel.exe, the FFmpeg DLLs, sounds, languages, help)
;   OUTFILE        the setup program to write
;   ICON           the program's icon
;   PUBLISHER, URL_ABOUT, URL_HELP   the maker's name and pages, from src/core/maker.h
;
; Silent use: Vistrel-<version>-setup.exe /S [/D=folder]; uninstall: Uninstall.exe /S.

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define APP "Vistrel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
; The program's start-with-Windows entry: the value "Vistrel" holding the program's path.
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; A running Vistrel is asked to exit as its exit hotkey does: WM_HOTKEY with the exit hotkey's
; identifier, posted to its message-only core window.
!define CORE_WINDOW_CLASS "VistrelCoreWindowClass"
!define HOTKEY_EXIT_APP 13
!define SYNCHRONIZE 0x00100000
!define EXIT_WAIT_MS 20000

Name "${APP}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${APP} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${FILE_VERSION}"
VIFileVersion "${FILE_VERSION}"

Var ClosedRunningCopy

;--------------------------------
; Pages

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_LANGDLL_REGISTRY_ROOT HKCU
!define MUI_LANGDLL_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MUI_LANGDLL_REGISTRY_VALUENAME "Installer Language"
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\${APP}.exe"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_TEXT "$(UninstalledKeepingData)"
!insertmacro MUI_UNPAGE_FINISH

; The languages the program ships, English first (the fallback).
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"
!insertmacro MUI_LANGUAGE "PortugueseBR"
!insertmacro MUI_LANGUAGE "Arabic"
!insertmacro MUI_RESERVEFILE_LANGDLL

VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${APP}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${APP} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PUBLISHER}"

LangString SectionProgram ${LANG_ENGLISH} "${APP} (required)"
LangString SectionProgram ${LANG_GERMAN} "${APP} (erforderlich)"
LangString SectionProgram ${LANG_PORTUGUESEBR} "${APP} (obrigatório)"
LangString SectionProgram ${LANG_ARABIC} "${APP} (مطلوب)"

LangString SectionDesktop ${LANG_ENGLISH} "Desktop shortcut"
LangString SectionDesktop ${LANG_GERMAN} "Verknüpfung auf dem Desktop"
LangString SectionDesktop ${LANG_PORTUGUESEBR} "Atalho na área de trabalho"
LangString SectionDesktop ${LANG_ARABIC} "اختصار على سطح المكتب"

LangString ClosingRunningCopy ${LANG_ENGLISH} "Asking the running ${APP} to exit..."
LangString ClosingRunningCopy ${LANG_GERMAN} "Das laufende ${APP} wird gebeten, sich zu beenden..."
LangString ClosingRunningCopy ${LANG_PORTUGUESEBR} "Pedindo ao ${APP} em execução que feche..."
LangString ClosingRunningCopy ${LANG_ARABIC} "جارٍ طلب إغلاق ${APP} قيد التشغيل..."

LangString StillRunning ${LANG_ENGLISH} "${APP} is still running. Exit it from its icon in the notification area, then click Retry."
LangString StillRunning ${LANG_GERMAN} "${APP} läuft noch. Beenden Sie es über sein Symbol im Infobereich und klicken Sie dann auf „Wiederholen“."
LangString StillRunning ${LANG_PORTUGUESEBR} "O ${APP} ainda está em execução. Feche-o pelo ícone na área de notificação e clique em Repetir."
LangString StillRunning ${LANG_ARABIC} "لا يزال ${APP} قيد التشغيل. أغلقه من أيقونته في منطقة الإعلامات، ثم انقر على إعادة المحاولة."

LangString UninstalledKeepingData ${LANG_ENGLISH} "${APP} has been removed from your computer.$\r$\n$\r$\nYour settings, recordings and screenshots have been kept. The settings are in $APPDATA\Orvanta\vistrel; recordings and screenshots are in the folders chosen in the settings (by default ${APP} in your Videos, Music and Pictures folders). Delete them yourself if you no longer need them.$\r$\n$\r$\nClick Finish to close this wizard."
LangString UninstalledKeepingData ${LANG_GERMAN} "${APP} wurde von Ihrem Computer entfernt.$\r$\n$\r$\nIhre Einstellungen, Aufnahmen und Bildschirmfotos wurden behalten. Die Einstellungen liegen in $APPDATA\Orvanta\vistrel; Aufnahmen und Bildschirmfotos liegen in den in den Einstellungen gewählten Ordnern (vorgegeben: ${APP} in Ihren Ordnern Videos, Musik und Bilder). Löschen Sie sie selbst, wenn Sie sie nicht mehr brauchen.$\r$\n$\r$\nKlicken Sie auf Fertigstellen, um den Assistenten zu schließen."
LangString UninstalledKeepingData ${LANG_PORTUGUESEBR} "O ${APP} foi removido do seu computador.$\r$\n$\r$\nSuas configurações, gravações e capturas de tela foram mantidas. As configurações estão em $APPDATA\Orvanta\vistrel; as gravações e capturas de tela estão nas pastas escolhidas nas configurações (por padrão, ${APP} nas suas pastas Vídeos, Músicas e Imagens). Apague-as você mesmo se não precisar mais delas.$\r$\n$\r$\nClique em Concluir para fechar o assistente."
LangString UninstalledKeepingData ${LANG_ARABIC} "تمت إزالة ${APP} من جهازك.$\r$\n$\r$\nتم الاحتفاظ بإعداداتك وتسجيلاتك ولقطات الشاشة. توجد الإعدادات في $APPDATA\Orvanta\vistrel، وتوجد التسجيلات ولقطات الشاشة في المجلدات المختارة في الإعدادات (افتراضيًا مجلد ${APP} داخل مجلدات الفيديو والموسيقى والصور). احذفها بنفسك إذا لم تعد بحاجة إليها.$\r$\n$\r$\nانقر على إنهاء لإغلاق المعالج."

;--------------------------------
; A running Vistrel holds its program file open: ask it to exit, and wait until its process has
; ended (its exit sound plays to its end first). Sets $ClosedRunningCopy to 1 when one was closed.

!macro DEFINE_CLOSE_RUNNING_COPY PREFIX
Function ${PREFIX}CloseRunningCopy
  StrCpy $ClosedRunningCopy 0
  ${Do}
    System::Call 'user32::FindWindowExW(p -3, p 0, w "${CORE_WINDOW_CLASS}", p 0) p .r0'
    ${If} $0 == 0
      Return
    ${EndIf}
    DetailPrint "$(ClosingRunningCopy)"
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1) i'
    System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p .r2'
    System::Call 'user32::PostMessageW(p r0, i ${WM_HOTKEY}, p ${HOTKEY_EXIT_APP}, p 0) i'
    ${If} $2 != 0
      System::Call 'kernel32::WaitForSingleObject(p r2, i ${EXIT_WAIT_MS}) i'
      System::Call 'kernel32::CloseHandle(p r2) i'
    ${Else}
      ; Without a handle on the process, wait for its window instead.
      StrCpy $3 0
      ${Do}
        System::Call 'user32::IsWindow(p r0) i .r4'
        ${If} $4 == 0
        ${OrIf} $3 >= ${EXIT_WAIT_MS}
          ${Break}
        ${EndIf}
        Sleep 100
        IntOp $3 $3 + 100
      ${Loop}
    ${EndIf}
    System::Call 'user32::FindWindowExW(p -3, p 0, w "${CORE_WINDOW_CLASS}", p 0) p .r0'
    ${If} $0 == 0
      StrCpy $ClosedRunningCopy 1
      Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(StillRunning)" /SD IDCANCEL IDRETRY retry
    Abort "$(StillRunning)"
    retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro DEFINE_CLOSE_RUNNING_COPY ""
!insertmacro DEFINE_CLOSE_RUNNING_COPY "un."

;--------------------------------
; Installer

Function .onInit
  SetShellVarContext current
  !insertmacro MUI_LANGDLL_DISPLAY
FunctionEnd

Section "!$(SectionProgram)" SectionProgram
  SectionIn RO
  Call CloseRunningCopy
  SetOutPath "$INSTDIR"
  ; The FFmpeg DLLs' names carry their major versions: drop those of an earlier version.
  Delete "$INSTDIR\avcodec-*.dll"
  Delete "$INSTDIR\avformat-*.dll"
  Delete "$INSTDIR\avutil-*.dll"
  Delete "$INSTDIR\swscale-*.dll"
  Delete "$INSTDIR\swresample-*.dll"
  File "${SOURCE}/${APP}.exe"
  File "${SOURCE}/*.dll"
  File "${SOURCE}/help.html"
  File /r "${SOURCE}/sounds"
  File /r "${SOURCE}/languages"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\${APP}.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "${URL_ABOUT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "HelpLink" "${URL_HELP}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${APP}.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "$(SectionDesktop)" SectionDesktop
  CreateShortcut "$DESKTOP\${APP}.lnk" "$INSTDIR\${APP}.exe"
SectionEnd

; A silent update brings back the copy it closed; interactively the finish page offers to start it.
Section "-Restart"
  ${If} ${Silent}
  ${AndIf} $ClosedRunningCopy == 1
    Exec '"$INSTDIR\${APP}.exe"'
  ${EndIf}
SectionEnd

;--------------------------------
; Uninstaller: removes the program and its shortcuts and entries, never the user's settings,
; recordings or screenshots.

Function un.onInit
  SetShellVarContext current
  !insertmacro MUI_UNGETLANGUAGE
FunctionEnd

Section "Uninstall"
  Call un.CloseRunningCopy
  Delete "$INSTDIR\${APP}.exe"
  Delete "$INSTDIR\avcodec-*.dll"
  Delete "$INSTDIR\avformat-*.dll"
  Delete "$INSTDIR\avutil-*.dll"
  Delete "$INSTDIR\swscale-*.dll"
  Delete "$INSTDIR\swresample-*.dll"
  Delete "$INSTDIR\help.html"
  RMDir /r "$INSTDIR\sounds"
  RMDir /r "$INSTDIR\languages"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${APP}.lnk"
  Delete "$DESKTOP\${APP}.lnk"

  ; The start-with-Windows entry goes only when it starts this copy (quotes around it allowed).
  ReadRegStr $0 HKCU "${RUN_KEY}" "${APP}"
  StrCpy $1 $0 1
  ${If} $1 == '"'
    StrCpy $0 $0 "" 1
    StrCpy $1 $0 1 -1
    ${If} $1 == '"'
      StrCpy $0 $0 -1
    ${EndIf}
  ${EndIf}
  ${If} $0 == "$INSTDIR\${APP}.exe"
    DeleteRegValue HKCU "${RUN_KEY}" "${APP}"
  ${EndIf}

  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
