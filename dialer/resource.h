// Resource identifiers of Pondo.exe.
#pragma once

#define IDD_ABOUTBOX 100
#define IDD_PONDO_DIALOG 102
#define IDB_BANNER 142
#define IDB_BANNER_2X 143 // the banner at twice the size, for screens above 96 DPI
#define IDI_IDLE 156
#define IDI_CONNECTED 157

#define IDC_EXIT 1002
#define IDC_CONNECT 1003
#define IDC_STATUS 1010
#define IDC_USERNAME 1016
#define IDC_PASSWORD 1017
#define IDC_ADAPTERS 1027
#define IDC_SAVEPW 1028
#define IDC_USERNAME_LABEL 1029
#define IDC_PASSWORD_LABEL 1030
#define IDC_ADAPTER_FRAME 1031
#define IDC_VERSION_LINE 1032
#define IDC_COPYRIGHT_LINE 1033
