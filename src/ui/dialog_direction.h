// Dialogs in the direction of the interface language. With a right-to-left language (Arabic) every
// dialog of the settings and the multi-track configuration is mirrored: its origin is at the right
// edge, so labels stand right of the boxes they name, check boxes have their box on the right, and
// Tab and the screen reader go through the controls from right to left, as the language is read.
#pragma once

#include <windows.h>

namespace vistrel {

// Whether the active interface language is written from right to left.
bool InterfaceIsRightToLeft();

// CreateDialogParamW and DialogBoxParamW on a template of the program, mirrored when the interface
// language is right to left at the moment the dialog is created.
HWND CreateDialogInDirection(HINSTANCE instance, int templateId, HWND parent, DLGPROC procedure,
                             LPARAM parameter);
INT_PTR DialogBoxInDirection(HINSTANCE instance, int templateId, HWND owner, DLGPROC procedure,
                             LPARAM parameter);

// Message-box flags for the interface language: right-aligned, right-to-left reading for Arabic.
UINT MessageBoxDirection();

}  // namespace vistrel
