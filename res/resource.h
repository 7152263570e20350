// Resource ids of the main window's dialog template, its icon and controls.
#pragma once

#define IDD_UPDATE_DIALOG 102
#define IDI_MAINFRAME 152
#define IDC_PROGRESS 1003
#define IDC_USB_UPDATE 1007
#define IDC_HELP_TEXT 1008
#define IDC_STATIC_NOTICE (-1)
