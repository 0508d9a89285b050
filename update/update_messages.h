/* The catalogue messages of the update, by ID: the step texts the update reports, and the captions
   and texts its front ends show. Plain macros: the resource script includes this header too. */
#pragma once

#define MSG_UPDATE_FAILED_CAPTION 40002
#define MSG_WRITE_ADDRESS_FAILED 40008
#define MSG_BLOCK_WRITE_FAILED 40009
#define MSG_UNIT_NOT_DETECTED 40022
#define MSG_OLDER_FIRMWARE_QUESTION 40023
#define MSG_NEWER_FIRMWARE_CAPTION 40025
#define MSG_SYSTEM_LOCK_FAILED 40026
#define MSG_WRITE_PROTECTION_FAILED 40027
#define MSG_ERASE_FAILED 40028
#define MSG_PROGRESS_TITLE 40029
#define MSG_UPDATE_FAILED_STATUS 40030
#define MSG_UPDATE_SUCCEEDED 40032
#define MSG_ERROR_CODE_LINE 40036
#define MSG_UPDATE_WARNING_CAPTION 40037
#define MSG_UPDATE_WARNING 40038
