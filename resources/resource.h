// Resource ids shared by the resource script, the program and its tests.
#pragma once

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_TELVIO_DIALOG 102
#define IDD_WARNING 131

// Strings, icon and bitmap.
#define IDS_ABOUTBOX 101
#define IDR_MAINFRAME 128
#define IDB_CHIP 130

// System-menu command of the about item; the low four bits stay clear, as the system
// reserves them.
#define IDM_ABOUTBOX 0x0010

// Main window controls.
#define IDC_DRIVE_BOX 1000
#define IDC_PROGRESS 1011
#define IDC_LOG 1012
#define IDC_STATUS 1014
#define IDC_UPGRADE 1015
#define IDC_REVISION 1016
#define IDC_FILE_BOX 1028
#define IDC_BROWSE 1029

// Warning dialog controls.
#define IDC_GREETING 1018
#define IDC_VERSION_WORDS 1019
#define IDC_MODEL_TEXT 1020
#define IDC_FIRMWARE_WORDS 1021
#define IDC_REVISION_TEXT 1022
#define IDC_WARNING_LIST 1023
#define IDC_ATTENTION 1024
#define IDC_WARNING_NOTE 1025
#define IDC_QUESTION 1026

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
