// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDI_VISTREL 101
#define IDI_RECORDING 103

#define IDD_WINDOW_PICKER 301
#define IDC_PICKER_PROMPT 3001
#define IDC_PICKER_LIST 3002
