// Identifiers of the Windows program's resources: dialog templates, pictures, strings and the
// controls the dialogs reach by id. Shared by the resource script and the C++ code.
#pragma once

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_VANTREL_DIALOG 102
#define IDD_UPGRADE 104
#define IDD_UPGRADE_PROGRESS 105
#define IDD_SETTINGS 137
#define IDD_SPLASH 192

// Strings.
#define IDS_ABOUTBOX 101

// Pictures.
#define IDI_APP 128
#define IDI_EXPLANATION 130
#define IDI_ADS_SHOWN 132
#define IDI_ADS_HIDDEN 133
#define IDB_SPLASH 135
#define IDI_TEMPLATE_STATUS 150

// The system menu's About entry (a multiple of 16, as system commands are).
#define IDM_ABOUTBOX 0x0010

// Controls of the main dialog. 1 is IDOK (the toggle), 2 IDCANCEL (Exit).
#define IDC_UPGRADE 3
#define IDC_HELP_BUTTON 4
#define IDC_SETTINGS 5
#define IDC_SETTINGS_GROUP 1000
#define IDC_STATUS_ICON 1001
#define IDC_STATUS_LABEL 1002
#define IDC_HINT 1003
// Made at run time below the status line: what still lets ads through.
#define IDC_NOTES 1010

// The upgrade status window's line.
#define IDC_PROGRESS_TEXT 1000

// Controls of the settings dialog.
#define IDC_DOMAINS 1004
#define IDC_IP_GROUP 1005
#define IDC_IP_ADDRESS 1006

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
