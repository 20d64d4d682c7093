// Dialog controls of another process, driven the way the keyboard would drive them: through the
// controls' own messages, never the mouse.
//
//   get-text CAPTION ID            the control's text (ID 0: the caption); a drop-down list gives
//                                  its selected item
//   set-text CAPTION ID TEXT       replaces an edit's text
//   click CAPTION ID               presses a button, check box or radio button (BM_CLICK, posted)
//   select CAPTION ID INDEX        selects item INDEX of a drop-down list, list view or tree view
//                                  (root items), with the notification the user's choice sends
//   set-pos CAPTION ID POS         moves a trackbar as the arrow keys would
//   state CAPTION ID               a number: check state, selected item or row, trackbar position
//   enabled CAPTION ID             1 when the control takes input, 0 when it is greyed out
//   items CAPTION ID               the items of a drop-down list or list box, or the rows of a list
//                                  view with their columns separated by tabs, one a line
//   focused                        "ID<tab>class<tab>text" of the control with the keyboard focus
//                                  (in the foreground window)
//   exstyle CAPTION ID             the control's extended window style (ID 0: the dialog)
//   rect CAPTION ID                the screen rectangle of the control (ID 0: the dialog):
//                                  left top right bottom
//   type TEXT                      types TEXT through SendInput
//
// A control is looked up among the dialog's own children first, then inside its visible child
// dialogs (the settings dialog's current page).
#include "driver.h"

#include <commctrl.h>

#include <cstdio>
#include <cwchar>

namespace {

HWND FindDialog(const std::wstring& caption) { return FindWindowW(L"#32770", caption.c_str()); }

struct ChildSearch {
  int id;
  HWND found;
};

BOOL CALLBACK FindInVisiblePage(HWND child, LPARAM data) {
  auto* search = reinterpret_cast<ChildSearch*>(data);
  if (GetDlgCtrlID(child) != search->id) return TRUE;
  HWND parent = GetParent(child);
  if (!IsWindowVisible(parent)) return TRUE;
  search->found = child;
  return FALSE;
}

HWND FindControl(HWND dialog, int id) {
  HWND direct = GetDlgItem(dialog, id);
  if (direct) return direct;
  ChildSearch search{id, nullptr};
  EnumChildWindows(dialog, FindInVisiblePage, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::wstring TextOf(HWND window) {
  const auto length = static_cast<size_t>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(length + 1, L'\0');
  SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(std::wcslen(text.c_str()));
  return text;
}

constexpr int kCellChars = 512;

std::wstring ListViewCell(HWND list, int row, int column) {
  RemoteBuffer remote(list, sizeof(LVITEMW) + kCellChars * sizeof(wchar_t));
  if (!remote.ok()) return {};
  LVITEMW item{};
  item.iSubItem = column;
  item.cchTextMax = kCellChars;
  item.pszText = reinterpret_cast<wchar_t*>(remote.at(sizeof(LVITEMW)));
  remote.write(0, &item, sizeof item);
  const auto length = static_cast<size_t>(SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote.at(0))));
  std::wstring text(kCellChars, L'\0');
  remote.read(sizeof(LVITEMW), text.data(), kCellChars * sizeof(wchar_t));
  text.resize(length < kCellChars ? length : kCellChars - 1);
  return text;
}

bool SelectListViewRow(HWND list, int row) {
  RemoteBuffer remote(list, sizeof(LVITEMW));
  if (!remote.ok()) return false;
  LVITEMW clear{};
  clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  remote.write(0, &clear, sizeof clear);
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(remote.at(0)));
  if (row < 0) return true;
  LVITEMW select = clear;
  select.state = LVIS_SELECTED | LVIS_FOCUSED;
  remote.write(0, &select, sizeof select);
  return SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.at(0))) != 0;
}

bool SelectTreeRoot(HWND tree, int index) {
  auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
  for (int i = 0; item && i < index; ++i) {
    item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
  }
  return item && SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)) != 0;
}

bool Select(HWND control, int index) {
  const std::wstring cls = ClassOf(control);
  if (cls == WC_LISTVIEWW) return SelectListViewRow(control, index);
  if (cls == WC_TREEVIEWW) return SelectTreeRoot(control, index);
  if (cls == WC_COMBOBOXW) {
    SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    return PostMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), CBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(control)) != 0;
  }
  return false;
}

long long State(HWND control) {
  const std::wstring cls = ClassOf(control);
  if (cls == WC_COMBOBOXW) return SendMessageW(control, CB_GETCURSEL, 0, 0);
  if (cls == WC_LISTVIEWW) return SendMessageW(control, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
  if (cls == TRACKBAR_CLASSW) return SendMessageW(control, TBM_GETPOS, 0, 0);
  return SendMessageW(control, BM_GETCHECK, 0, 0);
}

void PrintItems(HWND control) {
  const std::wstring cls = ClassOf(control);
  const bool combo = cls == WC_COMBOBOXW;
  if (combo || cls == WC_LISTBOXW) {
    const auto count = static_cast<int>(SendMessageW(control, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      const LRESULT length = SendMessageW(control, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, i, 0);
      std::wstring text(static_cast<size_t>(length) + 1, L'\0');
      SendMessageW(control, combo ? CB_GETLBTEXT : LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
      PrintUtf8Line(text.c_str());
    }
  } else if (cls == WC_LISTVIEWW) {
    const auto rows = static_cast<int>(SendMessageW(control, LVM_GETITEMCOUNT, 0, 0));
    HWND header = reinterpret_cast<HWND>(SendMessageW(control, LVM_GETHEADER, 0, 0));
    const int columns = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
    for (int row = 0; row < rows; ++row) {
      std::wstring line;
      for (int column = 0; column < columns; ++column) {
        if (column) line += L'\t';
        line += ListViewCell(control, row, column);
      }
      PrintUtf8Line(line.empty() ? L" " : line.c_str());
    }
  }
}

int Focused() {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  HWND foreground = GetForegroundWindow();
  if (!foreground || !GetGUIThreadInfo(GetWindowThreadProcessId(foreground, nullptr), &info) || !info.hwndFocus) {
    return 1;
  }
  wchar_t line[600];
  std::swprintf(line, 600, L"%d\t%ls\t%ls", GetDlgCtrlID(info.hwndFocus), ClassOf(info.hwndFocus).c_str(),
                TextOf(info.hwndFocus).c_str());
  PrintUtf8Line(line);
  return 0;
}

int TypeText(const std::wstring& text) {
  for (wchar_t c : text) {
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
    inputs[0].ki.wScan = inputs[1].ki.wScan = c;
    inputs[0].ki.dwFlags = KEYEVENTF_UNICODE;
    inputs[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
    if (SendInput(2, inputs, sizeof(INPUT)) != 2) return 1;
    Sleep(10);
  }
  return 0;
}

int ControlCommand(const Options& o) {
  const std::wstring& verb = o.words[0];
  HWND dialog = FindDialog(o.words[1]);
  if (!dialog) {
    std::fwprintf(stderr, L"no dialog titled %ls\n", o.words[1].c_str());
    return 1;
  }
  if (o.words.size() < 3) return 2;
  const int id = static_cast<int>(Number(o.words[2]));
  HWND control = id == 0 ? dialog : FindControl(dialog, id);
  if (!control) {
    std::fwprintf(stderr, L"no control %d\n", id);
    return 1;
  }
  if (verb == L"rect") {
    RECT r{};
    if (!GetWindowRect(control, &r)) return 1;
    wchar_t line[100];
    std::swprintf(line, 100, L"%ld %ld %ld %ld", r.left, r.top, r.right, r.bottom);
    PrintUtf8Line(line);
    return 0;
  }
  if (verb == L"get-text") {
    PrintUtf8Line(TextOf(control).c_str());
    return 0;
  }
  if (verb == L"click") return PostMessageW(control, BM_CLICK, 0, 0) ? 0 : 1;
  if (verb == L"state" || verb == L"enabled" || verb == L"exstyle") {
    const long long number = verb == L"state"     ? State(control)
                             : verb == L"enabled" ? (IsWindowEnabled(control) ? 1 : 0)
                                                  : GetWindowLongPtrW(control, GWL_EXSTYLE);
    wchar_t line[32];
    std::swprintf(line, 32, L"%lld", number);
    PrintUtf8Line(line);
    return 0;
  }
  if (verb == L"items") {
    PrintItems(control);
    return 0;
  }
  if (o.words.size() != 4) return 2;
  if (verb == L"set-text") {
    return SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(o.words[3].c_str())) ? 0 : 1;
  }
  const int value = static_cast<int>(std::wcstol(o.words[3].c_str(), nullptr, 0));
  if (verb == L"select") return Select(control, value) ? 0 : 1;
  if (verb == L"set-pos") {
    SendMessageW(control, TBM_SETPOS, TRUE, value);
    return PostMessageW(GetParent(control), WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(control)) ? 0 : 1;
  }
  return 2;
}

}  // namespace

int RunDialogCommand(const Options& o) {
  const std::wstring& verb = o.words[0];
  if (verb == L"focused") return Focused();
  if (verb == L"type") return o.words.size() == 2 ? TypeText(o.words[1]) : 2;
  if (verb == L"get-text" || verb == L"set-text" || verb == L"click" || verb == L"select" ||
      verb == L"set-pos" || verb == L"state" || verb == L"items" || verb == L"rect" || verb == L"enabled" ||
      verb == L"exstyle") {
    return o.words.size() >= 2 ? ControlCommand(o) : 2;
  }
  return -1;
}
