// Resource and control ids, shared by the resource script and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_QUORVEL_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_DOWNLOAD 1000
#define IDC_AREA_LIST 1001
#define IDC_PORT_LIST 1002
#define IDC_LOAD_BINARY_FILE 1003
#define IDC_FILE_INFO 1004
#define IDC_IMAGE_PATH 1005
#define IDC_AREA_ADDRESS 1006
#define IDC_LOG 1007
#define IDC_PROGRESS 1008
#define IDC_DEVICE_STATUS 1011
#define IDC_ONLINE 1014

// System-menu command of the about box; the system keeps the low four bits.
#define IDM_ABOUTBOX 0x0010
