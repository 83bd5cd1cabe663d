// Host stand-in for the shell header: the one call the launcher makes.
#pragma once

#include <windows.h>

extern "C" HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile,
                                          LPCSTR lpParameters, LPCSTR lpDirectory, INT nShowCmd);
