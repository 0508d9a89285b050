/* Resource, control and message IDs of the program, shared by the resource script and the code.
   Control IDs and message IDs are separate name spaces that happen to share numbers: control
   40011 (the ESC row's label) and message 40011 have nothing to do with each other. */
#pragma once

/* Resources */
#define IDD_MAIN 110
#define IDB_LOGO 121
#define IDI_APP 123

/* Controls of dialog IDD_MAIN; the Close button is IDCANCEL. */
#define IDC_UPDATE_BUTTON 1002
#define IDC_BOOTLOADER_LABEL 1005
#define IDC_STATUS_AREA 40004
#define IDC_VERSION_FRAME 40007
#define IDC_UNIT_LABEL 40010
#define IDC_ESC_LABEL 40011
#define IDC_UNIT_VERSION 40013
#define IDC_BOOTLOADER_VERSION 40014
#define IDC_ESC_VERSION 40015

/* Messages of the string tables */
#define MSG_UNIT_READY 40000
#define MSG_CONNECTION_STEPS 40001
#define MSG_UPDATE_FAILED_CAPTION 40002
#define MSG_WRITE_ADDRESS_FAILED 40008
#define MSG_BLOCK_WRITE_FAILED 40009
#define MSG_NOTIFICATION_FAILED 40011
#define MSG_APPLICATION_ERROR_CAPTION 40012
#define MSG_WRONG_MODE 40015
#define MSG_NO_UPDATABLE_ESC 40016
#define MSG_NO_UNIT_FOUND 40017
#define MSG_CONNECTION_LOST 40020
#define MSG_UNIT_NOT_DETECTED 40022
#define MSG_OLDER_FIRMWARE_QUESTION 40023
#define MSG_NEWER_FIRMWARE_CAPTION 40025
#define MSG_SYSTEM_LOCK_FAILED 40026
#define MSG_WRITE_PROTECTION_FAILED 40027
#define MSG_ERASE_FAILED 40028
#define MSG_PROGRESS_TITLE 40029
#define MSG_UPDATE_FAILED_STATUS 40030
#define MSG_UPDATE_SUCCEEDED 40032
#define MSG_INCOMPATIBLE_CAPTION 40033
#define MSG_INCOMPATIBLE_ESC 40034
#define MSG_INCOMPATIBLE_STATUS 40035
#define MSG_ERROR_CODE_LINE 40036
#define MSG_UPDATE_WARNING_CAPTION 40037
#define MSG_UPDATE_WARNING 40038
#define MSG_UNIT_ROW_LABEL 40039
#define MSG_BOOTLOADER_ROW_LABEL 40040
#define MSG_ESC_ROW_LABEL 40041

/* Where the incompatible-ESC text sends the user to look for an updater for other models. */
#define UPDATES_WEB_ADDRESS "https://www.tessalux.example/updates"
