// The modal prompt for disc 1: Cancel ends it; an inserted disc retries the launch.
#include <windows.h>

#include "Launcher.h"
#include "resource.h"

INT_PTR CALLBACK DiscPromptProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM)
{
    // Registered once per run, on the first message. Zero means registration
    // failed; no message may then be taken for the query.
    static const UINT s_uQueryCancelAutoPlay = RegisterWindowMessageA("QueryCancelAutoPlay");

    switch (uMsg) {
    case WM_INITDIALOG:
        // TRUE lets the dialog manager focus the first tab stop, Cancel.
        return TRUE;

    case WM_COMMAND:
        // Esc and the close box arrive here as IDCANCEL too.
        if (LOWORD(wParam) == IDCANCEL)
            EndDialog(hDlg, 0);
        return TRUE;

    case WM_RETRY_LAUNCH:
        LocateAndLaunchSetup();
        EndDialog(hDlg, 0);
        return TRUE;
    }

    if (s_uQueryCancelAutoPlay != 0 && uMsg == s_uQueryCancelAutoPlay) {
        // The shell sends this query and reads the answer from the message
        // result: 1 cancels AutoPlay for the inserted disc. The launch waits
        // for the posted retry so the shell is not kept waiting on it.
        SetWindowLongPtrA(hDlg, DWLP_MSGRESULT, 1);
        PostMessageA(hDlg, WM_RETRY_LAUNCH, 0, 0);
        return TRUE;
    }
    return FALSE;
}
