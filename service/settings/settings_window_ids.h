#pragma once
// The settings window's template and the controls in it, by number: the
// template (settings_window.rc), its code and the tests name them alike.
#define IDD_SETTINGS 100

#define IDC_KIND 1001
#define IDC_ADDRESS 1002
#define IDC_HTTPS 1003
#define IDC_LINE_LABEL 1004
#define IDC_LINE 1005
#define IDC_ACCOUNT_LABEL 1006
#define IDC_ACCOUNT 1007
#define IDC_ENDPOINT_LABEL 1008
#define IDC_ENDPOINT 1009
#define IDC_CONTEXT_LABEL 1010
#define IDC_CONTEXT 1011
#define IDC_USER 1012
#define IDC_PASSWORD 1013
#define IDC_INSECURE 1014
#define IDC_COUNTRY 1015
#define IDC_AREA 1016
#define IDC_OUTSIDE 1017
#define IDC_TEST_NUMBER 1018
#define IDC_TEST_CALL 1019
#define IDC_TEST_OUTCOME 1020
#define IDC_PROBLEM 1021
#define IDC_CONFIRM 1022
#define IDC_FAULT 1023
#define IDC_DROP_LINE 1024
#define IDC_LOCKED_NOTE 1025
#define IDC_PASSWORD_CUE 1026
#define IDC_URL 1027
#define IDC_URL_CHECK 1028
#define IDC_URL_LABEL 1029
#define IDC_ADDRESS_LABEL 1030
#define IDC_DIAL_HOTKEY 1031
#define IDC_HANG_UP_HOTKEY 1032
#define IDC_HOTKEY_STATE 1033
