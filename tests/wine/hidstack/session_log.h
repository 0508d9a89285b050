// The session log: what a program under the rig asked of the system about the end of the session.
// Our hid.dll points the program's imports of ShutdownBlockReasonCreate and ShutdownBlockReasonDestroy
// at wrappers that call the system's function and then append one line to the file named by the
// environment variable QUENLOR_RIG_SESSION_LOG (a Windows path; no variable, no log), in UTF-8:
//
//   <create|destroy> TAB <reports written so far> TAB <window, hex> TAB <1 when called on the
//   window's own thread> TAB <the system's result, 0 or 1> TAB <the reason (create only)> LF
//
// "Reports written so far" counts the program's writes of whole output reports to simulated
// devices, so a line can be placed among the requests of the unit's transcript.
#pragma once

constexpr wchar_t SESSION_LOG_VARIABLE[] = L"QUENLOR_RIG_SESSION_LOG";
