// Resource ids of PortaraCtl: dialog templates, controls, menus, commands and the icon.
#pragma once

// Icon of the program, its windows and its tray icon.
#define IDI_PORTARA 128

// The main window and its controls.
#define IDD_MAIN_DIALOG 132
#define IDC_SHEET_FRAME 1013
#define IDC_REFRESH 1016
#define IDC_CONTROLLER_SETUP 1050

// The tray menu (its first submenu is shown) and its commands.
#define IDR_TRAY_MENU 138
#define ID_TRAY_SHOW_WINDOW 32771
#define ID_TRAY_STOP_SERVICE 32772

// The four pages of the property sheet, in tab order.
#define IDD_PORT_LIST_PAGE 102
#define IDD_PORT_MONITOR_PAGE 131
#define IDD_PORT_INSTALL_PAGE 129
#define IDD_PORT_UNINSTALL_PAGE 130
