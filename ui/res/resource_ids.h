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

/* Messages of the string tables; those of the update are in update/update_messages.h, those of a
   unit's presence in frontend/presence_messages.h */
#include "update/update_messages.h"
#include "frontend/presence_messages.h"
#define MSG_NOTIFICATION_FAILED 40011
#define MSG_APPLICATION_ERROR_CAPTION 40012

/* Where the incompatible-ESC text sends the user to look for an updater for other models. */
#define UPDATES_WEB_ADDRESS "https://www.tessalux.example/updates"
