// Identifiers shared by the resource script and the program.
#pragma once

#define IDI_QUILRA3PATCH    107
#define IDI_SMALL           108
#define IDD_DISC_PROMPT     129

// The prompt posts this to itself to retry the launch after answering the
// AutoPlay query; it shares its value with DM_SETDEFID, which the prompt
// never uses.
#define WM_RETRY_LAUNCH     (WM_USER + 1)

#ifndef IDC_STATIC
#define IDC_STATIC          (-1)
#endif
