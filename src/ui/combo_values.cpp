#include "ui/combo_values.h"

#include <map>
#include <vector>

namespace vistrel {
namespace {

// Item data is an index into the list's values. UI thread only.
std::map<HWND, std::vector<std::wstring>>& Values() {
  static std::map<HWND, std::vector<std::wstring>> values;
  return values;
}

const std::wstring* ItemValue(HWND combo, LRESULT item) {
  const auto found = Values().find(combo);
  if (found == Values().end() || item < 0) return nullptr;
  const LRESULT data = SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(item), 0);
  if (data == CB_ERR || data < 0 || static_cast<size_t>(data) >= found->second.size()) return nullptr;
  return &found->second[static_cast<size_t>(data)];
}

}  // namespace

void ClearComboItems(HWND combo) {
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  Values().erase(combo);
}

void AddComboItem(HWND combo, const std::wstring& text, const std::wstring& value) {
  const LRESULT item = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  if (item < 0) return;
  std::vector<std::wstring>& values = Values()[combo];
  SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(item), static_cast<LPARAM>(values.size()));
  values.push_back(value);
}

std::optional<std::wstring> SelectedComboValue(HWND combo) {
  const std::wstring* value = ItemValue(combo, SendMessageW(combo, CB_GETCURSEL, 0, 0));
  if (!value) return std::nullopt;
  return *value;
}

void ForgetComboValues(HWND combo) { Values().erase(combo); }

void SelectItemByValue(HWND combo, const std::wstring& value) {
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT item = 0; item < count; ++item) {
    const std::wstring* candidate = ItemValue(combo, item);
    if (candidate && *candidate == value) {
      SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
      return;
    }
  }
  SendMessageW(combo, CB_SETCURSEL, 0, 0);
}

}  // namespace vistrel
