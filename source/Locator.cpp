// Finds disc 1 on the CD-ROM drives and starts its setup program with the
// transform that lies beside the launcher.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <strsafe.h>

#include "Launcher.h"

#define SETUP_RELATIVE_PATH "Data\\setup.exe"
#define TRANSFORM_NAME      "QLR3InstlPatch.Mst"
#define PARAMETER_PREFIX    "/v\"TRANSFORMS=\\\""
#define PARAMETER_SUFFIX    "\\\"\""

// Every root is "X:\" and its zero; one more zero ends the list of all 26.
#define DRIVE_LIST_SIZE     (26 * 4 + 1)
// Room for the longest folder the system reports whole (a 259-character path
// with a one-character name) and the transform name after it.
#define TRANSFORM_PATH_SIZE (MAX_PATH - 2 + sizeof(TRANSFORM_NAME))
#define PARAMETERS_SIZE     (sizeof(PARAMETER_PREFIX) - 1 + TRANSFORM_PATH_SIZE - 1 + sizeof(PARAMETER_SUFFIX))

static CHAR g_szSetupPath[MAX_PATH];
static CHAR g_szParameters[PARAMETERS_SIZE];
static CHAR g_szTransformName[MAX_PATH];
static CHAR g_szCandidatePath[MAX_PATH];

// Fills g_szSetupPath with the first CD-ROM drive's setup program, in the
// order the system lists the drives. Other drive types are never tested.
static BOOL FindSetupOnDiscs(void)
{
    CHAR szDrives[DRIVE_LIST_SIZE];
    DWORD cchDrives = GetLogicalDriveStringsA(DRIVE_LIST_SIZE, szDrives);

    // A result of 0 is a failure, a larger one the size a longer list needs;
    // either way the buffer holds no list to walk.
    if (cchDrives == 0 || cchDrives >= DRIVE_LIST_SIZE)
        return FALSE;

    for (LPCSTR pszRoot = szDrives; *pszRoot; pszRoot += lstrlenA(pszRoot) + 1) {
        if (GetDriveTypeA(pszRoot) != DRIVE_CDROM)
            continue;
        StringCchCopyA(g_szCandidatePath, MAX_PATH, pszRoot);
        StringCchCatA(g_szCandidatePath, MAX_PATH, SETUP_RELATIVE_PATH);
        if (PathFileExistsA(g_szCandidatePath) == TRUE) {
            StringCchCopyA(g_szSetupPath, MAX_PATH, g_szCandidatePath);
            return TRUE;
        }
        g_szCandidatePath[0] = '\0';
    }
    return FALSE;
}

// Replaces the launcher's own file name in its full path with the transform
// name. Fails when the system cannot report the path whole: a result equal to
// the buffer size means truncation, and older systems leave no zero then.
static BOOL GetTransformPath(LPSTR pszTransformPath)
{
    DWORD cchModule = GetModuleFileNameA(NULL, pszTransformPath, MAX_PATH);
    if (cchModule == 0 || cchModule >= MAX_PATH)
        return FALSE;

    LPSTR pszLastBackslash = StrRChrA(pszTransformPath, NULL, '\\');
    if (!pszLastBackslash)
        return FALSE;
    pszLastBackslash[1] = '\0';
    return SUCCEEDED(StringCchCatA(pszTransformPath, TRANSFORM_PATH_SIZE, g_szTransformName));
}

BOOL LocateAndLaunchSetup(void)
{
    CHAR szTransformPath[TRANSFORM_PATH_SIZE];

    g_szCandidatePath[0] = '\0';
    g_szTransformName[0] = '\0';
    g_szParameters[0] = '\0';
    g_szSetupPath[0] = '\0';

    if (!FindSetupOnDiscs())
        return FALSE;

    StringCchCopyA(g_szTransformName, MAX_PATH, TRANSFORM_NAME);
    // The disc is there; a path that cannot be composed launches nothing but
    // must not bring up a prompt for a disc that is already in the drive.
    if (!GetTransformPath(szTransformPath))
        return TRUE;

    StringCchCopyA(g_szParameters, PARAMETERS_SIZE, PARAMETER_PREFIX);
    StringCchCatA(g_szParameters, PARAMETERS_SIZE, szTransformPath);
    StringCchCatA(g_szParameters, PARAMETERS_SIZE, PARAMETER_SUFFIX);

    ShellExecuteA(NULL, "open", g_szSetupPath, g_szParameters, NULL, SW_SHOWDEFAULT);
    return TRUE;
}
