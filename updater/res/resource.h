// Resource ids of Tovane.exe.
#pragma once

#define IDD_UPDATE_DIALOG 102
#define IDS_SOCKETS_INIT_FAILED 103
#define IDI_PROGRAM 128

#define IDC_UPDATE 1001
#define IDC_PROGRESS 1002
#define IDC_STATUS 1003
