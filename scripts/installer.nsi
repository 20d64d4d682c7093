; Vistrel's Windows installer: a per-user installation without administrator rights.
; Built by scripts/package.sh, which defines:
;   VERSION        the program version (1.5.2.1); FILE_VERSION the same in four parts
;   SOURCE         the portable folder to install (Vistrel.exe, the FFmpeg DLLs, sounds, languages, help)
;   FILES          the list of its files (installer-files.nsh): the INSTALL_FILES and UNINSTALL_FILES
;                  macros, made from what is packed, so that exactly those files are removed again
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
!include TextFunc.nsh
!include WordFunc.nsh
!include "${FILES}"

!define APP "Vistrel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
; The program's start-with-Windows entry: the value "Vistrel" holding the program's path.
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; A running Vistrel is asked to exit as its exit hotkey does: WM_HOTKEY with the exit hotkey's
; identifier, posted to its message-only core window. Whether it is recording it answers to
; WM_QUERY_RECORDING (WM_APP + 21), sent to the same window: 1 while a recording is set up, made or
; finished. Exiting finishes and saves a recording, which may take a while (the program gives it up
; to a minute), so the wait for its process is longer than that.
!define CORE_WINDOW_CLASS "VistrelCoreWindowClass"
!define HOTKEY_EXIT_APP 13
!define WM_QUERY_RECORDING 0x8015
!define SMTO_ABORTIFHUNG 2
!define SYNCHRONIZE 0x00100000
!define EXIT_WAIT_MS 90000
; What the installer put in the folder, read by the next update.
!define MANIFEST "installed-files.txt"

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

LangString RecordingInProgress ${LANG_ENGLISH} "${APP} is recording.$\r$\n$\r$\nYes: stop the recording now; it is finished and saved, and this wizard continues.$\r$\nNo: let it record; this wizard waits and continues by itself once the recording has been stopped.$\r$\nCancel: stop here; nothing is changed."
LangString RecordingInProgress ${LANG_GERMAN} "${APP} nimmt gerade auf.$\r$\n$\r$\nJa: Die Aufnahme jetzt beenden; sie wird fertiggestellt und gespeichert, und dieser Assistent fährt fort.$\r$\nNein: Weiter aufnehmen lassen; dieser Assistent wartet und fährt von selbst fort, sobald die Aufnahme beendet wurde.$\r$\nAbbrechen: Hier aufhören; nichts wird geändert."
LangString RecordingInProgress ${LANG_PORTUGUESEBR} "O ${APP} está gravando.$\r$\n$\r$\nSim: parar a gravação agora; ela é finalizada e salva, e este assistente continua.$\r$\nNão: deixar gravar; este assistente espera e continua sozinho quando a gravação for parada.$\r$\nCancelar: parar aqui; nada é alterado."
LangString RecordingInProgress ${LANG_ARABIC} "${APP} يسجّل الآن.$\r$\n$\r$\nنعم: أوقف التسجيل الآن؛ سيُنهى ويُحفظ ثم يتابع هذا المعالج.$\r$\nلا: دعه يسجّل؛ ينتظر هذا المعالج ويتابع من تلقاء نفسه بعد إيقاف التسجيل.$\r$\nإلغاء: توقّف هنا؛ لن يتغيّر شيء."

LangString WaitingForRecording ${LANG_ENGLISH} "Waiting until the recording in ${APP} is stopped..."
LangString WaitingForRecording ${LANG_GERMAN} "Warten, bis die Aufnahme in ${APP} beendet wird..."
LangString WaitingForRecording ${LANG_PORTUGUESEBR} "Aguardando até que a gravação no ${APP} seja parada..."
LangString WaitingForRecording ${LANG_ARABIC} "في انتظار إيقاف التسجيل في ${APP}..."

LangString UninstalledKeepingData ${LANG_ENGLISH} "${APP} has been removed from your computer.$\r$\n$\r$\nYour settings, recordings and screenshots have been kept. The settings are in $APPDATA\Orvanta\vistrel; recordings and screenshots are in the folders chosen in the settings (by default ${APP} in your Videos, Music and Pictures folders). Delete them yourself if you no longer need them.$\r$\n$\r$\nClick Finish to close this wizard."
LangString UninstalledKeepingData ${LANG_GERMAN} "${APP} wurde von Ihrem Computer entfernt.$\r$\n$\r$\nIhre Einstellungen, Aufnahmen und Bildschirmfotos wurden behalten. Die Einstellungen liegen in $APPDATA\Orvanta\vistrel; Aufnahmen und Bildschirmfotos liegen in den in den Einstellungen gewählten Ordnern (vorgegeben: ${APP} in Ihren Ordnern Videos, Musik und Bilder). Löschen Sie sie selbst, wenn Sie sie nicht mehr brauchen.$\r$\n$\r$\nKlicken Sie auf Fertigstellen, um den Assistenten zu schließen."
LangString UninstalledKeepingData ${LANG_PORTUGUESEBR} "O ${APP} foi removido do seu computador.$\r$\n$\r$\nSuas configurações, gravações e capturas de tela foram mantidas. As configurações estão em $APPDATA\Orvanta\vistrel; as gravações e capturas de tela estão nas pastas escolhidas nas configurações (por padrão, ${APP} nas suas pastas Vídeos, Músicas e Imagens). Apague-as você mesmo se não precisar mais delas.$\r$\n$\r$\nClique em Concluir para fechar o assistente."
LangString UninstalledKeepingData ${LANG_ARABIC} "تمت إزالة ${APP} من جهازك.$\r$\n$\r$\nتم الاحتفاظ بإعداداتك وتسجيلاتك ولقطات الشاشة. توجد الإعدادات في $APPDATA\Orvanta\vistrel، وتوجد التسجيلات ولقطات الشاشة في المجلدات المختارة في الإعدادات (افتراضيًا مجلد ${APP} داخل مجلدات الفيديو والموسيقى والصور). احذفها بنفسك إذا لم تعد بحاجة إليها.$\r$\n$\r$\nانقر على إنهاء لإغلاق المعالج."

;--------------------------------
; A running Vistrel holds its program file open: ask it to exit, and wait until its process has
; ended (a recording is finished and saved, and its exit sound plays to its end first). A copy that
; is recording is first left to the user's choice: stop the recording now, or wait until it has
; been stopped; a silent setup stops it. Sets $ClosedRunningCopy to 1 when one was closed.

!macro DEFINE_CLOSE_RUNNING_COPY PREFIX
; $R0: 1 when the core window $0 answers that it is recording.
Function ${PREFIX}IsRecording
  StrCpy $R0 0
  System::Call 'user32::SendMessageTimeoutW(p r0, i ${WM_QUERY_RECORDING}, p 0, p 0, i ${SMTO_ABORTIFHUNG}, i 5000, *p .R0) p .R1'
  ${If} $R1 == 0
    StrCpy $R0 0
  ${EndIf}
FunctionEnd

Function ${PREFIX}CloseRunningCopy
  StrCpy $ClosedRunningCopy 0
  ${Do}
    System::Call 'user32::FindWindowExW(p -3, p 0, w "${CORE_WINDOW_CLASS}", p 0) p .r0'
    ${If} $0 == 0
      Return
    ${EndIf}
    Call ${PREFIX}IsRecording
    ${If} $R0 == 1
    ${AndIfNot} ${Silent}
      MessageBox MB_YESNOCANCEL|MB_ICONQUESTION|MB_DEFBUTTON2 "$(RecordingInProgress)" IDYES stop IDNO wait
      Abort
      wait:
      DetailPrint "$(WaitingForRecording)"
      ${Do}
        Sleep 500
        Call ${PREFIX}IsRecording  ; a copy that has exited meanwhile answers nothing
      ${LoopWhile} $R0 == 1
      stop:
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

; An update removes what the version it replaces installed, as that version listed it (an FFmpeg
; DLL of an earlier major version, say), and nothing else: only names inside the folder.
Function RemoveEarlierFiles
  ClearErrors
  FileOpen $0 "$INSTDIR\${MANIFEST}" r
  ${If} ${Errors}
    Return
  ${EndIf}
  ${Do}
    ClearErrors  ; a file that could not be deleted is no end of the list
    FileRead $0 $1
    ${If} ${Errors}
      ${Break}
    ${EndIf}
    ${TrimNewLines} $1 $1
    StrCpy $2 $1 1
    ${If} $1 == ""
    ${OrIf} $2 == "\"
    ${OrIf} $2 == "/"
      ${Continue}
    ${EndIf}
    ${WordFind} "$1" ".." "E*" $3
    ${IfNot} ${Errors}
      ${Continue}
    ${EndIf}
    ${WordFind} "$1" ":" "E*" $3
    ${IfNot} ${Errors}
      ${Continue}
    ${EndIf}
    ${WordFind} "$1" "*" "E*" $3
    ${IfNot} ${Errors}
      ${Continue}
    ${EndIf}
    ${WordFind} "$1" "?" "E*" $3
    ${IfNot} ${Errors}
      ${Continue}
    ${EndIf}
    Delete "$INSTDIR\$1"
  ${Loop}
  FileClose $0
FunctionEnd

Section "!$(SectionProgram)" SectionProgram
  SectionIn RO
  Call CloseRunningCopy
  Call RemoveEarlierFiles
  !insertmacro INSTALL_FILES
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
; Uninstaller: removes the program's files (exactly those it installed, then their folders when
; they are empty) and its shortcuts and entries, never the user's settings, recordings,
; screenshots or files of their own in the program's folder.

Function un.onInit
  SetShellVarContext current
  !insertmacro MUI_UNGETLANGUAGE
FunctionEnd

Section "Uninstall"
  Call un.CloseRunningCopy
  !insertmacro UNINSTALL_FILES
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
