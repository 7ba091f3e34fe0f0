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

// The port settings dialog and its controls.
#define IDD_CONF_DIALOG 134
#define IDC_CONF_START_LABEL 1028
#define IDC_CONF_START 1026
#define IDC_CONF_RUN_LABEL 1029
#define IDC_CONF_RUN 1027
#define IDC_CONF_ADDRESS 1018
#define IDC_CONF_TCP_PORT 1019
#define IDC_CONF_PROTOCOL 1011
#define IDC_CONF_RX_LABEL 1047
#define IDC_CONF_RX 1049
#define IDC_CONF_TX_LABEL 1048
#define IDC_CONF_TX 1050
#define IDC_CONF_COMMENT1_LABEL 1043
#define IDC_CONF_COMMENT1 1037
#define IDC_CONF_COMMENT2_LABEL 1042
#define IDC_CONF_COMMENT2 1041

// The monitor page's list.
#define IDC_MONITOR_LIST 1007

// The image strips of the shared image lists: check boxes and status balls.
#define IDB_CHECK_IMAGES 132
#define IDB_STATUS_IMAGES 133

// The port list page and its controls.
#define IDC_PORT_LIST 1000
#define IDC_STRIP_GROUP 1020
#define IDC_COM_LABEL 1021
#define IDC_COM_EDIT 1008
#define IDC_IP_LABEL 1022
#define IDC_IP_EDIT 1009
#define IDC_PROTOCOL_LABEL 1024
#define IDC_PROTOCOL 1011
#define IDC_PORT_LABEL 1023
#define IDC_PORT_EDIT 1010
#define IDC_RX_LABEL 1044
#define IDC_RX 1046
#define IDC_TX_LABEL 1045
#define IDC_TX 1047
#define IDC_COMMENT1_LABEL 1038
#define IDC_COMMENT1 1035
#define IDC_COMMENT2_LABEL 1039
#define IDC_COMMENT2 1036
#define IDC_APPLY 1012
#define IDC_FORCE_CLOSE 1016
#define IDC_MULTIPORT 1034

// The about box, its system menu entry's text and command.
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDM_ABOUTBOX 0x0010
