/* The catalogue messages of a unit's presence, by ID: what every front end says about a unit that
   is there, refused, missing or gone, and the labels of the version rows. Plain macros: the
   resource script includes this header too. */
#pragma once

#define MSG_UNIT_READY 40000
#define MSG_CONNECTION_STEPS 40001
#define MSG_WRONG_MODE 40015
#define MSG_NO_UPDATABLE_ESC 40016
#define MSG_NO_UNIT_FOUND 40017
#define MSG_CONNECTION_LOST 40020
#define MSG_INCOMPATIBLE_CAPTION 40033
#define MSG_INCOMPATIBLE_ESC 40034
#define MSG_INCOMPATIBLE_STATUS 40035
#define MSG_UNIT_ROW_LABEL 40039
#define MSG_BOOTLOADER_ROW_LABEL 40040
#define MSG_ESC_ROW_LABEL 40041
