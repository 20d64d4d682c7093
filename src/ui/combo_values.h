// Drop-down lists whose items carry a string value (language codes, device identifiers). The
// values are owned here, per list, and dropped when the list is emptied or its page destroyed.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace vistrel {

// Empties the list and forgets its values.
void ClearComboItems(HWND combo);
// Adds an item with its value at the end of the list.
void AddComboItem(HWND combo, const std::wstring& text, const std::wstring& value);
// The value of the selected item; nothing when no item is selected.
std::optional<std::wstring> SelectedComboValue(HWND combo);
// Forgets the values of a list that is going away.
void ForgetComboValues(HWND combo);

// Selects the first item whose value equals `value` exactly; item 0 when none does.
void SelectItemByValue(HWND combo, const std::wstring& value);

}  // namespace vistrel
