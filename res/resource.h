// Resource and control ids of the Windows program. Also included by the
// portable code, which addresses the main dialog's controls by these ids.
#ifndef TAXOSCOPE_RESOURCE_H
#define TAXOSCOPE_RESOURCE_H

// String table
#define IDS_APP_TITLE 103
#define IDS_WINDOW_CLASS 109

// Dialogs, menu, accelerators, icon
#define IDD_ABOUTBOX 103
#define IDI_TAXOSCOPE 107
#define IDC_TAXOSCOPE 109 /* menu and accelerator table */
#define IDD_MAIN 110

// Commands of the main window
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_OPEN_MAIN 110

// Main dialog controls (1 is Read/STOP, 2 is Close)
#define IDC_READ 1
#define IDC_CLOSE 2
#define IDC_BROWSE 3
#define IDC_PROGRESS 1000
#define IDC_PORT 1001
#define IDC_SPEED 1002
#define IDC_FILE_NAME 1007
#define IDC_TO 1010
#define IDC_BY_DATE 1011
#define IDC_ALL_RECORDS 1012
#define IDC_BY_NUMBER 1013
#define IDC_FROM 1014
#define IDC_PROGRESS_LABEL 1015
#define IDC_SHOW_RESULT 1016
#define IDC_EXPORT 1017
#define IDC_LEDGER 1018
#define IDC_SEND 1019
/* The dialog that asks for the server and its token, once. */
#define IDD_SEND_SERVER 111
#define IDC_SEND_URL 1020
#define IDC_SEND_TOKEN 1021

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif
