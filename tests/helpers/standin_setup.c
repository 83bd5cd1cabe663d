/* Stand-in for the setup program on disc 1 (installed as Data\setup.exe).
 *
 * It records the command line it was started with in setup-received.txt
 * beside itself, then exits. The file has one "key=value" line each:
 *   cmdline=  the raw command line as the system gives it
 *   params=   the same with the program name and the blanks after it cut off
 *   module=   this program's own full path
 *   show=     the show command it was given (STARTF_USESHOWWINDOW), or none
 * The file is written under a temporary name and renamed, so a reader never
 * sees half of it.
 *
 * The program name is cut by the rules the C runtime uses for argv[0]: a name
 * that starts with a double quote runs to the next double quote, any other
 * name to the first blank. No window is created. */
#include <windows.h>

static const char *SkipProgramName(const char *p)
{
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t')
            ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

static void Put(HANDLE hFile, const char *pszText)
{
    DWORD cbWritten = 0;
    WriteFile(hFile, pszText, (DWORD)lstrlenA(pszText), &cbWritten, NULL);
}

static void PutLine(HANDLE hFile, const char *pszKey, const char *pszValue)
{
    Put(hFile, pszKey);
    Put(hFile, "=");
    Put(hFile, pszValue);
    Put(hFile, "\r\n");
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR pszCmdLine, int nShowCmd)
{
    char szModule[MAX_PATH * 2];
    char szTemp[MAX_PATH * 2 + 32];
    char szFinal[MAX_PATH * 2 + 32];
    const char *pszRaw = GetCommandLineA();
    DWORD cch;
    char *pszSlash;
    HANDLE hFile;
    STARTUPINFOA si;
    char szShow[16];

    (void)hInstance;
    (void)hPrevInstance;
    (void)pszCmdLine;
    (void)nShowCmd;

    cch = GetModuleFileNameA(NULL, szModule, (DWORD)sizeof(szModule));
    if (cch == 0 || cch >= sizeof(szModule))
        return 2;

    lstrcpyA(szTemp, szModule);
    pszSlash = szTemp + lstrlenA(szTemp);
    while (pszSlash > szTemp && pszSlash[-1] != '\\')
        --pszSlash;
    *pszSlash = '\0';
    lstrcpyA(szFinal, szTemp);
    lstrcatA(szTemp, "setup-received.tmp");
    lstrcatA(szFinal, "setup-received.txt");

    hFile = CreateFileA(szTemp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return 3;
    PutLine(hFile, "cmdline", pszRaw);
    PutLine(hFile, "params", SkipProgramName(pszRaw));
    PutLine(hFile, "module", szModule);
    si.cb = sizeof(si);
    GetStartupInfoA(&si);
    if (si.dwFlags & STARTF_USESHOWWINDOW)
        wsprintfA(szShow, "%u", (unsigned)si.wShowWindow);
    else
        lstrcpyA(szShow, "none");
    PutLine(hFile, "show", szShow);
    CloseHandle(hFile);

    if (!MoveFileExA(szTemp, szFinal, MOVEFILE_REPLACE_EXISTING))
        return 4;
    return 0;
}
