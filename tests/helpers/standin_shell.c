/* Stand-in for the parts of the Windows shell that talk to the disc prompt,
 * and a probe the end-to-end tests use to look at it.
 *
 * Usage: StandInShell.exe ACTION...
 * The actions run in order; each prints one line to standard output:
 *
 *   exe=NAME        the launcher's file name (default Quilra3Patch.exe); the
 *                   prompt is the visible top-level dialog captioned
 *                   "Quillora" of a process with that image name
 *   drives          "drive X:\ TYPE" for every logical drive
 *   wait=MS         wait for the prompt:          "prompt 1 HWND" / "prompt 0"
 *   info            the prompt's window:           "info {JSON}"
 *   query[=W,L]     send the registered message "QueryCancelAutoPlay" as the
 *                   shell does when a disc arrives: "query RESULT visible=V"
 *                   (V: whether the prompt was still shown when the answer
 *                   came back)
 *   send=M,W,L      send any message:             "send RESULT visible=V"
 *   post=M,W,L      post any message:             "post OK"
 *   gone=MS         wait for the prompt to close:  "gone 1 MS" / "gone 0 MS"
 *   sync=TAG        print "sync TAG", then wait for a line on standard input
 *                   (the test changes the drives meanwhile)
 *   sleep=MS        pause
 *   key=VK          press and release a virtual key through the input queue
 *   click=X,Y       left click at a screen point through the input queue;
 *   click=cancel    ... at the centre of the prompt's Cancel button;
 *   click=close     ... at the centre of the prompt's close box
 *   watch=MS        wait for the launcher's process to start, then follow it
 *                   until it ends, noting every visible top-level window it
 *                   shows ("window TITLE" for each as it appears), then
 *                   "watch seen=0|1 ended=0|1 exit=CODE windows=N"
 *
 * A sent message that is not answered within 10 s prints "... timeout".
 * Numbers may be decimal or 0x hexadecimal. Exit code 0 when every action
 * ran, 2 for a bad action, 3 when an action needed the prompt and there was
 * none. */
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define SEND_TIMEOUT_MS 10000

static char g_szExe[MAX_PATH] = "Quilra3Patch.exe";
static HWND g_hPrompt;

static void Out(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    vprintf(pszFormat, args);
    va_end(args);
    fflush(stdout);
}

static const char *BaseName(const char *pszPath)
{
    const char *pszBase = pszPath;
    for (; *pszPath; ++pszPath)
        if (*pszPath == '\\' || *pszPath == '/')
            pszBase = pszPath + 1;
    return pszBase;
}

/* The image name of a process, or "" when it is gone. */
static void ProcessName(DWORD dwPid, char *pszName, size_t cchName)
{
    PROCESSENTRY32 entry;
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);

    pszName[0] = '\0';
    if (hSnap == INVALID_HANDLE_VALUE)
        return;
    entry.dwSize = sizeof(entry);
    if (Process32First(hSnap, &entry)) {
        do {
            if (entry.th32ProcessID == dwPid) {
                lstrcpynA(pszName, BaseName(entry.szExeFile), (int)cchName);
                break;
            }
        } while (Process32Next(hSnap, &entry));
    }
    CloseHandle(hSnap);
}

static DWORD FindProcess(const char *pszExe)
{
    PROCESSENTRY32 entry;
    DWORD dwPid = 0;
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);

    if (hSnap == INVALID_HANDLE_VALUE)
        return 0;
    entry.dwSize = sizeof(entry);
    if (Process32First(hSnap, &entry)) {
        do {
            if (lstrcmpiA(BaseName(entry.szExeFile), pszExe) == 0) {
                dwPid = entry.th32ProcessID;
                break;
            }
        } while (Process32Next(hSnap, &entry));
    }
    CloseHandle(hSnap);
    return dwPid;
}

static BOOL IsLauncherWindow(HWND hWnd)
{
    DWORD dwPid = 0;
    char szName[MAX_PATH];

    GetWindowThreadProcessId(hWnd, &dwPid);
    ProcessName(dwPid, szName, sizeof(szName));
    return lstrcmpiA(szName, g_szExe) == 0;
}

static BOOL CALLBACK FindPromptProc(HWND hWnd, LPARAM lParam)
{
    char szText[64];
    HWND *phFound = (HWND *)lParam;

    if (!IsWindowVisible(hWnd))
        return TRUE;
    if (!GetClassNameA(hWnd, szText, sizeof(szText)) || lstrcmpA(szText, "#32770") != 0)
        return TRUE;
    GetWindowTextA(hWnd, szText, sizeof(szText));
    if (lstrcmpA(szText, "Quillora") != 0 || !IsLauncherWindow(hWnd))
        return TRUE;
    *phFound = hWnd;
    return FALSE;
}

static HWND FindPrompt(void)
{
    HWND hFound = NULL;
    EnumWindows(FindPromptProc, (LPARAM)&hFound);
    return hFound;
}

static unsigned long Number(const char *pszText)
{
    return strtoul(pszText, NULL, 0);
}

/* Splits "A,B,C" into up to three numbers; missing ones are 0. */
static int Numbers(const char *pszText, unsigned long *pValues, int cMax)
{
    int c = 0;
    char *pszEnd;

    while (c < cMax && *pszText) {
        pValues[c++] = strtoul(pszText, &pszEnd, 0);
        if (*pszEnd != ',')
            break;
        pszText = pszEnd + 1;
    }
    for (int i = c; i < cMax; ++i)
        pValues[i] = 0;
    return c;
}

static void JsonString(const char *pszText)
{
    putchar('"');
    for (const unsigned char *p = (const unsigned char *)pszText; *p; ++p) {
        if (*p == '"' || *p == '\\')
            printf("\\%c", *p);
        else if (*p < 0x20 || *p >= 0x7f)
            printf("\\u%04x", *p);
        else
            putchar(*p);
    }
    putchar('"');
}

static void JsonRect(const char *pszKey, const RECT *pRect)
{
    printf("\"%s\":[%ld,%ld,%ld,%ld]", pszKey, pRect->left, pRect->top, pRect->right, pRect->bottom);
}

static BOOL CALLBACK ControlProc(HWND hWnd, LPARAM lParam)
{
    char szClass[64];
    char szText[256];
    RECT rect;
    int *pcSeen = (int *)lParam;

    /* Only the dialog's own controls, not their children. */
    if (GetParent(hWnd) != g_hPrompt)
        return TRUE;
    GetClassNameA(hWnd, szClass, sizeof(szClass));
    GetWindowTextA(hWnd, szText, sizeof(szText));
    GetWindowRect(hWnd, &rect);
    printf("%s{\"id\":%d,\"class\":", *pcSeen ? "," : "", GetDlgCtrlID(hWnd));
    JsonString(szClass);
    printf(",\"text\":");
    JsonString(szText);
    printf(",\"style\":%lu,\"visible\":%d,", (unsigned long)GetWindowLongA(hWnd, GWL_STYLE), IsWindowVisible(hWnd) ? 1 : 0);
    JsonRect("rect", &rect);
    putchar('}');
    ++*pcSeen;
    return TRUE;
}

/* The centre of the caption's close box, found by asking the window itself
 * what lies under points along its caption. */
static BOOL FindCloseBox(POINT *pPoint)
{
    RECT rect;
    int y, xRight = -1, xLeft = -1;

    GetWindowRect(g_hPrompt, &rect);
    y = rect.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
    for (int x = rect.right - 1; x > rect.left; --x) {
        DWORD_PTR hit = 0;
        if (!SendMessageTimeoutA(g_hPrompt, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &hit))
            return FALSE;
        if (hit == HTCLOSE) {
            if (xRight < 0)
                xRight = x;
            xLeft = x;
        } else if (xRight >= 0) {
            break;
        }
    }
    if (xRight < 0)
        return FALSE;
    pPoint->x = (xLeft + xRight) / 2;
    pPoint->y = y;
    return TRUE;
}

static void Info(void)
{
    char szText[256];
    RECT rect;
    POINT ptClose;
    DWORD dwPid = 0;
    DWORD dwThread = GetWindowThreadProcessId(g_hPrompt, &dwPid);
    GUITHREADINFO gui;
    int cSeen = 0;

    gui.cbSize = sizeof(gui);
    if (!GetGUIThreadInfo(dwThread, &gui))
        memset(&gui, 0, sizeof(gui));

    printf("info {\"hwnd\":%lu,\"pid\":%lu,\"exe\":", (unsigned long)(ULONG_PTR)g_hPrompt, (unsigned long)dwPid);
    ProcessName(dwPid, szText, sizeof(szText));
    JsonString(szText);
    GetClassNameA(g_hPrompt, szText, sizeof(szText));
    printf(",\"class\":");
    JsonString(szText);
    GetWindowTextA(g_hPrompt, szText, sizeof(szText));
    printf(",\"caption\":");
    JsonString(szText);
    printf(",\"style\":%lu,\"exstyle\":%lu,\"visible\":%d,\"foreground\":%d,\"active\":%d,\"focus_id\":%d,",
           (unsigned long)GetWindowLongA(g_hPrompt, GWL_STYLE),
           (unsigned long)GetWindowLongA(g_hPrompt, GWL_EXSTYLE),
           IsWindowVisible(g_hPrompt) ? 1 : 0,
           GetForegroundWindow() == g_hPrompt ? 1 : 0,
           gui.hwndActive == g_hPrompt ? 1 : 0,
           gui.hwndFocus ? GetDlgCtrlID(gui.hwndFocus) : 0);
    GetWindowRect(g_hPrompt, &rect);
    JsonRect("rect", &rect);
    putchar(',');
    GetClientRect(g_hPrompt, &rect);
    JsonRect("client", &rect);
    printf(",\"screen\":[%d,%d],", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &rect, 0);
    JsonRect("work", &rect);
    if (FindCloseBox(&ptClose))
        printf(",\"close\":[%ld,%ld]", ptClose.x, ptClose.y);
    else
        printf(",\"close\":null");
    printf(",\"controls\":[");
    EnumChildWindows(g_hPrompt, ControlProc, (LPARAM)&cSeen);
    printf("]}\n");
    fflush(stdout);
}

static void Drives(void)
{
    char szDrives[27 * 4 + 1];
    DWORD cch = GetLogicalDriveStringsA(sizeof(szDrives), szDrives);

    if (cch == 0 || cch >= sizeof(szDrives)) {
        Out("drive none\n");
        return;
    }
    for (const char *pszRoot = szDrives; *pszRoot; pszRoot += lstrlenA(pszRoot) + 1)
        Out("drive %s %u\n", pszRoot, GetDriveTypeA(pszRoot));
}

static void WaitPrompt(DWORD dwMs)
{
    DWORD dwStart = GetTickCount();
    for (;;) {
        g_hPrompt = FindPrompt();
        if (g_hPrompt || GetTickCount() - dwStart >= dwMs)
            break;
        Sleep(20);
    }
    if (g_hPrompt)
        Out("prompt 1 %lu\n", (unsigned long)(ULONG_PTR)g_hPrompt);
    else
        Out("prompt 0\n");
}

static void WaitGone(DWORD dwMs)
{
    DWORD dwStart = GetTickCount();
    BOOL bGone;
    for (;;) {
        bGone = !IsWindow(g_hPrompt) || !IsWindowVisible(g_hPrompt);
        if (bGone || GetTickCount() - dwStart >= dwMs)
            break;
        Sleep(20);
    }
    Out("gone %d %lu\n", bGone ? 1 : 0, (unsigned long)(GetTickCount() - dwStart));
}

/* Prints the result, and whether the prompt was still shown at the moment
 * the answer came back. */
static void Send(const char *pszVerb, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(g_hPrompt, uMsg, wParam, lParam, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &result)) {
        BOOL bVisible = IsWindow(g_hPrompt) && IsWindowVisible(g_hPrompt);
        Out("%s %ld visible=%d\n", pszVerb, (long)(LONG_PTR)result, bVisible ? 1 : 0);
    } else {
        Out("%s timeout\n", pszVerb);
    }
}

typedef struct {
    DWORD dwPid;
    int cWindows;
    HWND ahSeen[16];
} WATCH;

static BOOL CALLBACK WatchProc(HWND hWnd, LPARAM lParam)
{
    WATCH *pWatch = (WATCH *)lParam;
    DWORD dwPid = 0;

    GetWindowThreadProcessId(hWnd, &dwPid);
    if (dwPid != pWatch->dwPid || !IsWindowVisible(hWnd))
        return TRUE;
    for (int i = 0; i < pWatch->cWindows && i < 16; ++i)
        if (pWatch->ahSeen[i] == hWnd)
            return TRUE;
    if (pWatch->cWindows < 16)
        pWatch->ahSeen[pWatch->cWindows] = hWnd;
    ++pWatch->cWindows;
    {
        char szTitle[128];
        GetWindowTextA(hWnd, szTitle, sizeof(szTitle));
        Out("window %s\n", szTitle);
    }
    return TRUE;
}

static void Watch(DWORD dwMs)
{
    DWORD dwStart = GetTickCount();
    WATCH watch;
    HANDLE hProcess = NULL;
    DWORD dwExit = (DWORD)-1;
    BOOL bEnded = FALSE;

    memset(&watch, 0, sizeof(watch));
    while (!watch.dwPid && GetTickCount() - dwStart < dwMs) {
        watch.dwPid = FindProcess(g_szExe);
        if (!watch.dwPid)
            Sleep(2);
    }
    if (watch.dwPid) {
        hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, watch.dwPid);
        for (;;) {
            EnumWindows(WatchProc, (LPARAM)&watch);
            if (!hProcess) {
                /* Gone before it could be opened. */
                bEnded = FindProcess(g_szExe) == 0;
                if (bEnded || GetTickCount() - dwStart >= dwMs)
                    break;
                Sleep(2);
                continue;
            }
            if (WaitForSingleObject(hProcess, 2) == WAIT_OBJECT_0) {
                bEnded = TRUE;
                GetExitCodeProcess(hProcess, &dwExit);
                break;
            }
            if (GetTickCount() - dwStart >= dwMs)
                break;
        }
        if (hProcess)
            CloseHandle(hProcess);
    }
    Out("watch seen=%d ended=%d exit=%ld windows=%d\n", watch.dwPid ? 1 : 0, bEnded ? 1 : 0, (long)dwExit, watch.cWindows);
}

static void Key(WORD wVk)
{
    INPUT input[2];
    memset(input, 0, sizeof(input));
    input[0].type = INPUT_KEYBOARD;
    input[0].ki.wVk = wVk;
    input[1] = input[0];
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    Out("key %u\n", SendInput(2, input, sizeof(INPUT)));
}

/* Moves the pointer there and clicks, every event carrying the absolute
 * position, so the click lands there whatever the cursor did meanwhile. */
static void Click(int x, int y)
{
    INPUT input[3];
    int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    memset(input, 0, sizeof(input));
    for (int i = 0; i < 3; ++i) {
        input[i].type = INPUT_MOUSE;
        input[i].mi.dx = MulDiv(x, 65535, cx > 1 ? cx - 1 : 1);
        input[i].mi.dy = MulDiv(y, 65535, cy > 1 ? cy - 1 : 1);
        input[i].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    }
    input[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    input[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    SendInput(1, &input[0], sizeof(INPUT));
    Sleep(100);
    Out("click %u\n", SendInput(2, &input[1], sizeof(INPUT)));
}

static BOOL NeedPrompt(const char *pszAction)
{
    if (g_hPrompt)
        return TRUE;
    Out("error %s: no prompt\n", pszAction);
    return FALSE;
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const char *pszAction = argv[i];
        const char *pszValue = strchr(pszAction, '=');
        size_t cchVerb = pszValue ? (size_t)(pszValue - pszAction) : strlen(pszAction);
        unsigned long values[3];
        char szVerb[16];

        if (cchVerb >= sizeof(szVerb)) {
            Out("error bad action %s\n", pszAction);
            return 2;
        }
        memcpy(szVerb, pszAction, cchVerb);
        szVerb[cchVerb] = '\0';
        pszValue = pszValue ? pszValue + 1 : "";

        if (strcmp(szVerb, "exe") == 0) {
            lstrcpynA(g_szExe, pszValue, sizeof(g_szExe));
        } else if (strcmp(szVerb, "drives") == 0) {
            Drives();
        } else if (strcmp(szVerb, "wait") == 0) {
            WaitPrompt(Number(pszValue));
        } else if (strcmp(szVerb, "info") == 0) {
            if (!NeedPrompt(szVerb))
                return 3;
            Info();
        } else if (strcmp(szVerb, "query") == 0) {
            if (!NeedPrompt(szVerb))
                return 3;
            Numbers(pszValue, values, 2);
            Send("query", RegisterWindowMessageA("QueryCancelAutoPlay"), values[0], values[1]);
        } else if (strcmp(szVerb, "send") == 0 || strcmp(szVerb, "post") == 0) {
            if (!NeedPrompt(szVerb))
                return 3;
            if (Numbers(pszValue, values, 3) < 1) {
                Out("error bad action %s\n", pszAction);
                return 2;
            }
            if (szVerb[0] == 's')
                Send("send", (UINT)values[0], values[1], values[2]);
            else
                Out("post %d\n", PostMessageA(g_hPrompt, (UINT)values[0], values[1], values[2]) ? 1 : 0);
        } else if (strcmp(szVerb, "gone") == 0) {
            if (!NeedPrompt(szVerb))
                return 3;
            WaitGone(Number(pszValue));
        } else if (strcmp(szVerb, "sync") == 0) {
            char szLine[64];
            Out("sync %s\n", pszValue);
            if (!fgets(szLine, sizeof(szLine), stdin)) {
                Out("error sync: no answer\n");
                return 2;
            }
        } else if (strcmp(szVerb, "sleep") == 0) {
            Sleep(Number(pszValue));
            Out("sleep\n");
        } else if (strcmp(szVerb, "key") == 0) {
            Key((WORD)Number(pszValue));
        } else if (strcmp(szVerb, "click") == 0) {
            POINT pt;
            if (strcmp(pszValue, "cancel") == 0 || strcmp(pszValue, "close") == 0) {
                RECT rect;
                HWND hCancel;
                if (!NeedPrompt(szVerb))
                    return 3;
                hCancel = GetDlgItem(g_hPrompt, IDCANCEL);
                if (pszValue[1] == 'a' && hCancel && GetWindowRect(hCancel, &rect)) {
                    pt.x = (rect.left + rect.right) / 2;
                    pt.y = (rect.top + rect.bottom) / 2;
                } else if (pszValue[1] != 'l' || !FindCloseBox(&pt)) {
                    Out("error click: no %s\n", pszValue);
                    return 3;
                }
            } else if (Numbers(pszValue, values, 2) == 2) {
                pt.x = (long)values[0];
                pt.y = (long)values[1];
            } else {
                Out("error bad action %s\n", pszAction);
                return 2;
            }
            Click((int)pt.x, (int)pt.y);
        } else if (strcmp(szVerb, "watch") == 0) {
            Watch(Number(pszValue));
        } else {
            Out("error bad action %s\n", pszAction);
            return 2;
        }
    }
    return 0;
}
