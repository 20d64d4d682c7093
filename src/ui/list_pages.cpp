// The Hotkeys page with its Change Hotkey dialog, and the Sound Effects page.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <string>
#include <vector>

#include "config/hotkeys.h"
#include "core/log.h"
#include "core/sound.h"
#include "i18n/tr.h"
#include "resource.h"
#include "ui/dialog_direction.h"
#include "ui/settings_pages.h"
#include "ui/settings_texts.h"

namespace vistrel {
namespace {

constexpr DWORD kListStyles = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES;

// The feature whose hotkey the open Change Hotkey dialog edits.
int g_changingFeature = -1;

HotkeyBinding* FeatureBinding(int feature) {
  return BindingForHotkey(SettingsWorkingCopy(), feature + 1);
}

// The combination, marked when another program holds it.
std::wstring FeatureHotkeyText(int feature) {
  std::wstring text = HotkeyToText(*FeatureBinding(feature));
  if (HotkeyRefused(feature + 1)) text += L" " + tr(L"(used by another program)");
  return text;
}

void InsertRow(HWND list, int row, const std::wstring& text) {
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = row;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  item.lParam = row;
  SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void SelectRow(HWND list, int row) {
  LVITEMW state{};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
}

// --- Change Hotkey dialog ----------------------------------------------------------------------

void SetChangeHotkeyTexts(HWND dialog, int feature) {
  SetWindowTextW(dialog, tr(kChangeHotkeyCaption).c_str());
  for (const ControlText& entry : TemplateTexts(IDD_CHANGE_HOTKEY)) {
    SetDlgItemTextW(dialog, entry.id, tr(entry.msgid).c_str());
  }
  SetDlgItemTextW(dialog, IDC_HOTKEY_FEATURE, tr(kHotkeyFeatureNames[static_cast<size_t>(feature)]).c_str());
}

INT_PTR CALLBACK ChangeHotkeyProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      g_changingFeature = static_cast<int>(lParam);
      const HotkeyBinding* binding = FeatureBinding(g_changingFeature);
      if (!binding) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      SetChangeHotkeyTexts(dialog, g_changingFeature);
      const WORD combination = MAKEWORD(binding->virtualKey & 0xFF, ModifiersToHotkeyFlags(binding->modifiers));
      SendDlgItemMessageW(dialog, IDC_HOTKEY_EDIT, HKM_SETHOTKEY, combination, 0);
      CheckDlgButton(dialog, IDC_HOTKEY_WINKEY, binding->winKey ? BST_CHECKED : BST_UNCHECKED);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        HotkeyBinding* binding = FeatureBinding(g_changingFeature);
        if (binding) {
          const auto combination = static_cast<WORD>(SendDlgItemMessageW(dialog, IDC_HOTKEY_EDIT, HKM_GETHOTKEY, 0, 0));
          binding->virtualKey = LOBYTE(combination);
          binding->modifiers = HotkeyFlagsToModifiers(HIBYTE(combination));
          binding->winKey = IsDlgButtonChecked(dialog, IDC_HOTKEY_WINKEY) == BST_CHECKED;
        }
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      g_changingFeature = -1;
      return FALSE;
    default:
      return FALSE;
  }
}

void ChangeSelectedHotkey(HWND page) {
  HWND list = GetDlgItem(page, IDC_HOTKEY_LIST);
  const int row = SelectedListRow(list);
  if (row < 0) {
    MessageBoxW(page, tr(L"Please select a feature from the list first.").c_str(),
                tr(L"No Feature Selected").c_str(), MB_OK | MB_ICONINFORMATION | MessageBoxDirection());
    return;
  }
  // While the capture control waits for the combination, no hotkey may take it away.
  const bool unregistered = UnregisterHotkeysUnlessPaused();
  if (unregistered) LogMessage(L"Hotkeys temporarily unregistered for setting new one.");
  const INT_PTR result =
      DialogBoxInDirection(GetModuleHandleW(nullptr), IDD_CHANGE_HOTKEY, page, ChangeHotkeyProc, row);
  if (unregistered) {
    RegisterHotkeysUnlessPaused(SettingsWorkingCopy());
    LogMessage(L"Temporary hotkeys re-registered.");
  }
  // The new combination, and whether it (or any other) is now held by another program.
  if (result == IDOK || unregistered) FillHotkeyList(list);
}

// --- Sound Effects page ------------------------------------------------------------------------

std::wstring& EventValue(int row) {
  return SettingsWorkingCopy().Sounds.*(kSoundEvents[static_cast<size_t>(row)].field);
}

void SetEventValue(HWND list, int row, const std::wstring& value) {
  EventValue(row) = value;
  SetListText(list, row, 1, value);
}

void ChooseSoundFile(HWND page, HWND list, int row) {
  std::wstring filter = tr(L"Wave Files (*.wav)") + L'\0' + L"*.wav" + L'\0' + tr(L"All Files (*.*)") +
                        L'\0' + L"*.*" + L'\0' + L'\0';
  std::vector<wchar_t> file(MAX_PATH, L'\0');
  OPENFILENAMEW open{};
  open.lStructSize = sizeof open;
  open.hwndOwner = page;
  open.lpstrFilter = filter.c_str();
  open.nFilterIndex = 1;
  open.lpstrFile = file.data();
  open.nMaxFile = static_cast<DWORD>(file.size());
  open.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  if (!GetOpenFileNameW(&open)) return;
  SetEventValue(list, row, SoundValueForChosenFile(file.data(), ProgramFolder() + L"\\sounds"));
}

void RestoreDefaultSounds(HWND page, HWND list) {
  const int answer = MessageBoxW(
      page, tr(L"Are you sure you want to restore all sound effects to their default settings?").c_str(),
      tr(L"Restore Defaults").c_str(), MB_YESNO | MB_ICONQUESTION | MessageBoxDirection());
  if (answer != IDYES) return;
  SettingsWorkingCopy().Sounds = DefaultSoundEffects();
  for (int row = 0; row < kSoundEventCount; ++row) SetListText(list, row, 1, EventValue(row));
}

void OnSoundCommand(HWND page, int id) {
  HWND list = GetDlgItem(page, IDC_SOUND_LIST);
  if (id == IDC_SOUND_RESTORE) {  // concerns every row, so it needs no selection
    RestoreDefaultSounds(page, list);
    return;
  }
  const int row = SelectedListRow(list);
  if (row < 0 || row >= kSoundEventCount) return;
  switch (id) {
    case IDC_SOUND_PLAY:
      PlaySoundSync(EventValue(row));
      break;
    case IDC_SOUND_CHANGE:
      ChooseSoundFile(page, list, row);
      break;
    case IDC_SOUND_CLEAR:
      SetEventValue(list, row, L"None");
      break;
    default:
      break;
  }
}

}  // namespace

void AddListColumn(HWND list, int index, const std::wstring& title, int width) {
  LVCOLUMNW column{};
  column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH;
  column.fmt = LVCFMT_LEFT;
  column.cx = width;
  column.pszText = const_cast<wchar_t*>(title.c_str());
  SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

void SetListText(HWND list, int row, int column, const std::wstring& text) {
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

int SelectedListRow(HWND list) {
  return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// The name column as wide as its longest text, the value column the rest of the list.
static void FitColumns(HWND list) {
  SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE_USEHEADER);
  SendMessageW(list, LVM_SETCOLUMNWIDTH, 1, LVSCW_AUTOSIZE_USEHEADER);
}

void FillHotkeyList(HWND list) {
  if (!list) return;
  const int selected = SelectedListRow(list);
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  for (int feature = 0; feature < kHotkeyFeatureCount; ++feature) {
    InsertRow(list, feature, tr(kHotkeyFeatureNames[static_cast<size_t>(feature)]));
    SetListText(list, feature, 1, FeatureHotkeyText(feature));
  }
  if (selected >= 0) SelectRow(list, selected);
  FitColumns(list);
}

void RefreshSoundEventNames(HWND list) {
  if (!list) return;
  for (int row = 0; row < kSoundEventCount; ++row) {
    SetListText(list, row, 0, tr(kSoundEvents[static_cast<size_t>(row)].name));
  }
  FitColumns(list);
}

INT_PTR CALLBACK HotkeysPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      HWND list = GetDlgItem(page, IDC_HOTKEY_LIST);
      SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kListStyles);
      AddListColumn(list, 0, tr(L"Feature"), 220);
      AddListColumn(list, 1, tr(L"Hotkey"), 160);
      FillHotkeyList(list);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_CHANGE_HOTKEY && HIWORD(wParam) == BN_CLICKED) {
        ChangeSelectedHotkey(page);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK SoundEffectsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      HWND list = GetDlgItem(page, IDC_SOUND_LIST);
      SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kListStyles);
      AddListColumn(list, 0, tr(L"Event"), 180);
      AddListColumn(list, 1, tr(L"Sound File"), 200);
      for (int row = 0; row < kSoundEventCount; ++row) {
        InsertRow(list, row, tr(kSoundEvents[static_cast<size_t>(row)].name));
        SetListText(list, row, 1, EventValue(row));
      }
      FitColumns(list);
      return TRUE;
    }
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      switch (LOWORD(wParam)) {
        case IDC_SOUND_PLAY:
        case IDC_SOUND_CHANGE:
        case IDC_SOUND_CLEAR:
        case IDC_SOUND_RESTORE:
          OnSoundCommand(page, LOWORD(wParam));
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace vistrel
