// Resource identifiers of Pondo.exe.
#pragma once

#define IDD_ABOUTBOX 100
#define IDD_PONDO_DIALOG 102
#define IDB_BANNER 142
#define IDI_IDLE 156
#define IDI_CONNECTED 157
