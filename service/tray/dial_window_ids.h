#pragma once
// The Dial window's template and its controls, by number: the template
// (dial_window.rc), its code and the tests name them alike. The numbers stay
// clear of the settings and confirmation windows', which go into the tray too.
#define IDD_DIAL 300

#define IDC_DIAL_NUMBER 3001
#define IDC_DIAL_PROBLEM 3002
