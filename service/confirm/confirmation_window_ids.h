#pragma once
// The confirmation window's template and its controls, by number: the template
// (confirmation_window.rc), its code and the tests name them alike. The numbers
// stay clear of the settings window's, as both templates go into the tray.
#define IDD_CONFIRMATION 200

#define IDC_CONFIRM_NUMBER 2001
#define IDC_CONFIRM_ARRIVED 2002
#define IDC_CONFIRM_COUNTDOWN 2003
#define IDC_CONFIRM_NOTICE 2004
#define IDC_CONFIRM_DIALLED 2005
#define IDC_CONFIRM_FEATURE 2006
