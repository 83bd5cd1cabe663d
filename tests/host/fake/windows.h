// Host stand-in for the platform's main header, for the launcher's unit tests.
// It declares only the types, constants and calls that the launcher uses; the
// calls are implemented by the simulated machine in FakeWin32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

// The platform's calling conventions mean nothing on the host.
#define WINAPI
#define CALLBACK

#define TRUE  1
#define FALSE 0

typedef int            BOOL;
typedef int            INT;
typedef char           CHAR;
typedef unsigned short WORD;
typedef unsigned int   UINT;
// Both are 32 bits on the platform whatever the pointer size.
typedef std::uint32_t  DWORD;
typedef std::int32_t   LONG;
typedef std::intptr_t  INT_PTR;
typedef std::intptr_t  LONG_PTR;
typedef std::uintptr_t UINT_PTR;
typedef std::uintptr_t ULONG_PTR;
typedef std::uintptr_t DWORD_PTR;
typedef UINT_PTR       WPARAM;
typedef LONG_PTR       LPARAM;
typedef LONG           HRESULT;
typedef CHAR          *LPSTR;
typedef const CHAR    *LPCSTR;

// Handles are distinct pointer types, as with the platform's strict handles.
typedef struct HWND__      *HWND;
typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE           HMODULE;

typedef INT_PTR (WINAPI *FARPROC)(void);
typedef INT_PTR (CALLBACK *DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define MAX_PATH 260

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr)    (static_cast<HRESULT>(hr) < 0)

#define LOWORD(value) (static_cast<WORD>(static_cast<DWORD_PTR>(value) & 0xFFFFu))
// A resource identifier travels as a pointer whose value is the number.
#define MAKEINTRESOURCEA(id) (reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(id))))

// Drive types.
#define DRIVE_UNKNOWN     0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE   2
#define DRIVE_FIXED       3
#define DRIVE_REMOTE      4
#define DRIVE_CDROM       5
#define DRIVE_RAMDISK     6

#define SW_SHOWDEFAULT 10

#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800

#define WM_INITDIALOG 0x0110
#define WM_COMMAND    0x0111
#define WM_USER       0x0400

#define IDOK     1
#define IDCANCEL 2

#define DWLP_MSGRESULT 0

extern "C" {

DWORD   WINAPI GetLogicalDriveStringsA(DWORD nBufferLength, LPSTR lpBuffer);
UINT    WINAPI GetDriveTypeA(LPCSTR lpRootPathName);
DWORD   WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
int     WINAPI lstrlenA(LPCSTR lpString);

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL    WINAPI SetDllDirectoryA(LPCSTR lpPathName);

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam);
BOOL     WINAPI EndDialog(HWND hDlg, INT_PTR nResult);
UINT     WINAPI RegisterWindowMessageA(LPCSTR lpString);
LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
BOOL     WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

} // extern "C"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);
