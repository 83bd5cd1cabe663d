// Entry: try the launch once, and ask for disc 1 only when it is missing.
#include <windows.h>

#include "Launcher.h"
#include "resource.h"

typedef BOOL (WINAPI *SETDEFAULTDLLDIRECTORIES)(DWORD DirectoryFlags);

// A launcher runs from download folders and shares, where a DLL planted beside
// it must never be loaded: the shell loads further DLLs by name while it starts
// a program. SetDefaultDllDirectories is missing before Windows 8 without
// KB2533623, so it is looked up; failing that, the current folder is dropped.
static void RestrictDllSearchToSystem(void)
{
    HMODULE hKernel = GetModuleHandleA("kernel32.dll");
    FARPROC pfn = hKernel ? GetProcAddress(hKernel, "SetDefaultDllDirectories") : NULL;
    // GCC accepts a cast between function types only through void (*)(void).
    SETDEFAULTDLLDIRECTORIES pfnSetDefaultDllDirectories =
        reinterpret_cast<SETDEFAULTDLLDIRECTORIES>(reinterpret_cast<void (*)(void)>(pfn));

    if (pfnSetDefaultDllDirectories && pfnSetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    SetDllDirectoryA("");
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearchToSystem();
    if (!LocateAndLaunchSetup())
        DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_DISC_PROMPT), NULL, DiscPromptProc, 0);
    return 0;
}
