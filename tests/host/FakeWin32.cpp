// The simulated machine behind the fake platform headers. Each call is
// written to the log as it is made; buffers are filled with poison before
// the call writes what it documents.
#include "FakeWin32.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <map>

namespace fake {

Machine machine;
std::vector<std::string> calls;
std::deque<std::pair<HWND, DialogMessage>> posted;
bool dialogEnded = false;
unsigned registrationsThisProcess = 0;

const HWND kDialogWindow = reinterpret_cast<HWND>(std::uintptr_t{0xD1A10});
const HMODULE kKernel32 = reinterpret_cast<HMODULE>(std::uintptr_t{0x7C800000});

namespace {

std::map<std::uintptr_t, std::string> g_names;
INT_PTR g_endDialogResult = 0;

bool EqualIgnoringCase(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 'a' + 'A');
        if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 'a' + 'A');
        if (ca != cb)
            return false;
    }
    return true;
}

std::string Hex(unsigned long long value, int width)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llX", width, value);
    return text;
}

std::string Text(LPCSTR text)
{
    return text ? "\"" + std::string(text) + "\"" : "NULL";
}

std::string Handle(std::uintptr_t value)
{
    if (value == 0)
        return "NULL";
    auto named = g_names.find(value);
    return named != g_names.end() ? named->second : Hex(value, 1);
}

template <class T> std::string Handle(T *pointer)
{
    return Handle(reinterpret_cast<std::uintptr_t>(pointer));
}

// A resource or procedure name is either a number in the pointer or a text.
std::string NameOrNumber(LPCSTR name)
{
    std::uintptr_t value = reinterpret_cast<std::uintptr_t>(name);
    return value <= 0xFFFF ? "#" + std::to_string(value) : Text(name);
}

BOOL WINAPI FakeSetDefaultDllDirectories(DWORD directoryFlags)
{
    Record("SetDefaultDllDirectories(" + Hex(directoryFlags, 1) + ")");
    return machine.setDefaultDllDirectoriesResult;
}

} // namespace

void Reset()
{
    machine = Machine{};
    calls.clear();
    posted.clear();
    dialogEnded = false;
    g_endDialogResult = 0;
    g_names.clear();
    Name(kDialogWindow, "hDlg");
    Name(kKernel32, "kernel32");
}

void Record(const std::string &entry)
{
    calls.push_back(entry);
}

void Name(std::uintptr_t value, const std::string &name)
{
    g_names[value] = name;
}

int DeliverPosted(DLGPROC proc, int limit)
{
    int delivered = 0;
    while (!dialogEnded && !posted.empty() && delivered < limit) {
        auto [hwnd, message] = posted.front();
        posted.pop_front();
        proc(hwnd, message.msg, message.wParam, message.lParam);
        ++delivered;
    }
    return delivered;
}

void FillWithPoison(CHAR *buffer, std::size_t size)
{
    static const char kPattern[4] = {'#', ':', '\\', '\0'};
    for (std::size_t i = 0; i < size; ++i)
        buffer[i] = kPattern[i % sizeof kPattern];
}

} // namespace fake

using fake::machine;
using fake::Record;

extern "C" {

DWORD WINAPI GetLogicalDriveStringsA(DWORD nBufferLength, LPSTR lpBuffer)
{
    Record("GetLogicalDriveStringsA(" + std::to_string(nBufferLength) + ")");
    if (lpBuffer && nBufferLength)
        fake::FillWithPoison(lpBuffer, nBufferLength);
    if (machine.driveList == fake::DriveList::CallFails)
        return 0;

    // Each root with its zero, then the zero that ends the list.
    DWORD cchNeeded = 1;
    for (const fake::Drive &drive : machine.drives)
        cchNeeded += static_cast<DWORD>(drive.root.size() + 1);
    if (machine.driveList == fake::DriveList::ReportsLargerSize && cchNeeded <= nBufferLength)
        cchNeeded = nBufferLength + 4;
    // A list that does not fit is not written at all.
    if (cchNeeded > nBufferLength)
        return cchNeeded;

    CHAR *next = lpBuffer;
    for (const fake::Drive &drive : machine.drives) {
        std::memcpy(next, drive.root.c_str(), drive.root.size() + 1);
        next += drive.root.size() + 1;
    }
    *next = '\0';
    return cchNeeded - 1;
}

UINT WINAPI GetDriveTypeA(LPCSTR lpRootPathName)
{
    Record("GetDriveTypeA(" + fake::Text(lpRootPathName) + ")");
    for (const fake::Drive &drive : machine.drives)
        if (lpRootPathName && fake::EqualIgnoringCase(drive.root, lpRootPathName))
            return drive.type;
    return DRIVE_NO_ROOT_DIR;
}

BOOL WINAPI PathFileExistsA(LPCSTR pszPath)
{
    Record("PathFileExistsA(" + fake::Text(pszPath) + ")");
    for (const std::string &file : machine.files)
        if (pszPath && fake::EqualIgnoringCase(file, pszPath))
            return TRUE;
    return FALSE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    Record("GetModuleFileNameA(" + fake::Handle(hModule) + ", " + std::to_string(nSize) + ")");
    if (lpFilename && nSize)
        fake::FillWithPoison(lpFilename, nSize);
    const std::string &path = machine.modulePath;
    if (path.empty() || hModule != nullptr || nSize == 0)
        return 0;

    if (path.size() < nSize) {
        std::memcpy(lpFilename, path.c_str(), path.size() + 1);
        return static_cast<DWORD>(path.size());
    }
    if (machine.truncation == fake::Truncation::WindowsXP) {
        std::memcpy(lpFilename, path.data(), nSize);
    } else {
        std::memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
    }
    return nSize;
}

int WINAPI lstrlenA(LPCSTR lpString)
{
    return lpString ? static_cast<int>(std::strlen(lpString)) : 0;
}

LPSTR WINAPI StrRChrA(LPCSTR pszStart, LPCSTR pszEnd, WORD wMatch)
{
    // The tests use a single-byte code page: every character is one byte.
    if (!pszStart || wMatch > 0xFF)
        return nullptr;
    LPCSTR found = nullptr;
    for (LPCSTR p = pszStart; pszEnd ? p < pszEnd : *p != '\0'; ++p)
        if (static_cast<unsigned char>(*p) == wMatch)
            found = p;
    return const_cast<LPSTR>(found);
}

HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile,
                               LPCSTR lpParameters, LPCSTR lpDirectory, INT nShowCmd)
{
    Record("ShellExecuteA(" + fake::Handle(hwnd) + ", " + fake::Text(lpOperation) + ", " +
           fake::Text(lpFile) + ", " + fake::Text(lpParameters) + ", " + fake::Text(lpDirectory) +
           ", " + std::to_string(nShowCmd) + ")");
    return reinterpret_cast<HINSTANCE>(machine.shellExecuteResult);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    Record("GetModuleHandleA(" + fake::Text(lpModuleName) + ")");
    if (machine.kernel32Loaded && lpModuleName &&
        (fake::EqualIgnoringCase(lpModuleName, "kernel32.dll") ||
         fake::EqualIgnoringCase(lpModuleName, "kernel32")))
        return fake::kKernel32;
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    Record("GetProcAddress(" + fake::Handle(hModule) + ", " + fake::NameOrNumber(lpProcName) + ")");
    // Export names are matched exactly, case included.
    if (hModule == fake::kKernel32 && machine.hasSetDefaultDllDirectories &&
        reinterpret_cast<std::uintptr_t>(lpProcName) > 0xFFFF &&
        std::strcmp(lpProcName, "SetDefaultDllDirectories") == 0)
        return reinterpret_cast<FARPROC>(
            reinterpret_cast<void (*)(void)>(&fake::FakeSetDefaultDllDirectories));
    return nullptr;
}

BOOL WINAPI SetDllDirectoryA(LPCSTR lpPathName)
{
    Record("SetDllDirectoryA(" + fake::Text(lpPathName) + ")");
    return TRUE;
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    Record("DialogBoxParamA(" + fake::Handle(hInstance) + ", " + fake::NameOrNumber(lpTemplateName) +
           ", " + fake::Handle(hWndParent) + ", " + fake::Handle(lpDialogFunc) + ", " +
           std::to_string(dwInitParam) + ")");
    if (machine.dialogEvents.empty())
        return machine.dialogBoxResult;

    // The modal loop: the dialog receives WM_INITDIALOG, then what the user
    // and the shell do, each followed by what the dialog posted to itself.
    fake::dialogEnded = false;
    const HWND hDlg = fake::kDialogWindow;
    lpDialogFunc(hDlg, WM_INITDIALOG, 0, dwInitParam);
    fake::DeliverPosted(lpDialogFunc);
    for (const fake::DialogMessage &event : machine.dialogEvents) {
        if (fake::dialogEnded)
            break;
        lpDialogFunc(hDlg, event.msg, event.wParam, event.lParam);
        fake::DeliverPosted(lpDialogFunc);
    }
    return fake::dialogEnded ? fake::g_endDialogResult : machine.dialogBoxResult;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult)
{
    Record("EndDialog(" + fake::Handle(hDlg) + ", " + std::to_string(nResult) + ")");
    fake::dialogEnded = true;
    fake::g_endDialogResult = nResult;
    return TRUE;
}

UINT WINAPI RegisterWindowMessageA(LPCSTR lpString)
{
    Record("RegisterWindowMessageA(" + fake::Text(lpString) + ")");
    ++fake::registrationsThisProcess;
    return machine.registeredMessage;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    Record("SetWindowLongPtrA(" + fake::Handle(hWnd) + ", " + std::to_string(nIndex) + ", " +
           std::to_string(dwNewLong) + ")");
    return 0;
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    Record("PostMessageA(" + fake::Handle(hWnd) + ", " + fake::Hex(Msg, 4) + ", " +
           std::to_string(wParam) + ", " + std::to_string(lParam) + ")");
    fake::posted.push_back({hWnd, {Msg, wParam, lParam}});
    return TRUE;
}

} // extern "C"
