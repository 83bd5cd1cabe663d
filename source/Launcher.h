// The launcher's two routines: the locator and the disc prompt's procedure.
#pragma once

#include <windows.h>

BOOL LocateAndLaunchSetup(void);
INT_PTR CALLBACK DiscPromptProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
