// Host stand-in for the shell path utilities the launcher uses.
#pragma once

#include <windows.h>

extern "C" {

BOOL  WINAPI PathFileExistsA(LPCSTR pszPath);
// Last occurrence of wMatch in [pszStart, pszEnd), or up to the zero when
// pszEnd is NULL; NULL when there is none.
LPSTR WINAPI StrRChrA(LPCSTR pszStart, LPCSTR pszEnd, WORD wMatch);

} // extern "C"
