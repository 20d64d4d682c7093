#include "ui/dialog_direction.h"

#include <cstring>
#include <vector>

#include "i18n/translator.h"

namespace vistrel {
namespace {

// A copy of the template with WS_EX_LAYOUTRTL added to the dialog's extended style when the
// language asks for it. Controls inherit the layout of the dialog they are created in.
std::vector<BYTE> TemplateInDirection(HINSTANCE instance, int templateId) {
  HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(templateId), MAKEINTRESOURCEW(5));  // RT_DIALOG
  HGLOBAL loaded = resource ? LoadResource(instance, resource) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return {};
  const auto* start = static_cast<const BYTE*>(bytes);
  std::vector<BYTE> copy(start, start + SizeofResource(instance, resource));
  if (!InterfaceIsRightToLeft() || copy.size() < 16) return copy;
  WORD version = 0;
  WORD signature = 0;
  std::memcpy(&version, copy.data(), sizeof version);
  std::memcpy(&signature, copy.data() + 2, sizeof signature);
  // DLGTEMPLATEEX keeps the extended style at offset 8, DLGTEMPLATE at offset 4.
  const size_t at = version == 1 && signature == 0xFFFF ? 8 : 4;
  DWORD exStyle = 0;
  std::memcpy(&exStyle, copy.data() + at, sizeof exStyle);
  exStyle |= WS_EX_LAYOUTRTL;
  std::memcpy(copy.data() + at, &exStyle, sizeof exStyle);
  return copy;
}

const DLGTEMPLATE* AsTemplate(const std::vector<BYTE>& bytes) {
  return reinterpret_cast<const DLGTEMPLATE*>(bytes.data());
}

}  // namespace

bool InterfaceIsRightToLeft() {
  return Translator::initialized() && Translator::instance().isRightToLeft();
}

HWND CreateDialogInDirection(HINSTANCE instance, int templateId, HWND parent, DLGPROC procedure,
                             LPARAM parameter) {
  const std::vector<BYTE> bytes = TemplateInDirection(instance, templateId);
  if (bytes.empty()) return nullptr;
  return CreateDialogIndirectParamW(instance, AsTemplate(bytes), parent, procedure, parameter);
}

INT_PTR DialogBoxInDirection(HINSTANCE instance, int templateId, HWND owner, DLGPROC procedure,
                             LPARAM parameter) {
  const std::vector<BYTE> bytes = TemplateInDirection(instance, templateId);
  if (bytes.empty()) return -1;
  return DialogBoxIndirectParamW(instance, AsTemplate(bytes), owner, procedure, parameter);
}

UINT MessageBoxDirection() { return InterfaceIsRightToLeft() ? MB_RTLREADING | MB_RIGHT : 0; }

}  // namespace vistrel
