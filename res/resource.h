// Resource and control identifiers shared by the resource script and the code.
#pragma once

#define IDM_ABOUTBOX 0x0010
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_LOOKWELL_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_ABOUT_NAME 1001
#define IDC_ABOUT_VERSION 1002
#define IDC_ABOUT_COPYRIGHT 1003
#define IDC_ABOUT_COMPANY 1004
#define IDC_PREVIEW 1005
#define IDC_DEVICE_LIST 1006
#define IDC_MESSAGE 1007
#define IDC_FORMAT_LIST 1008
#define IDC_PREVIEW_BUTTON 1009
