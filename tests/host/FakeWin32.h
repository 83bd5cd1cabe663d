// A simulated Windows machine for the launcher's host tests. The program is
// compiled against the headers in fake/ and linked with FakeWin32.cpp, which
// answers its calls from `fake::machine` and writes each call, with its
// arguments, to `fake::calls` in the order the program made them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace fake {

struct Drive {
    std::string root;  // as the system lists it, e.g. "E:\\"
    UINT type;         // DRIVE_CDROM, DRIVE_FIXED, ...
};

// What GetLogicalDriveStringsA does besides listing the drives.
enum class DriveList {
    Listed,             // the list, when it fits; otherwise the size it needs
    CallFails,          // returns 0
    ReportsLargerSize,  // a drive appeared: reports a size beyond the buffer
};

// How GetModuleFileNameA reports a path that does not fit its buffer. Both
// return the buffer size.
enum class Truncation {
    WindowsXP,  // fills the whole buffer and leaves no terminating zero
    Later,      // cuts one character earlier and ends with a zero
};

struct DialogMessage {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

struct Machine {
    // Drives in the order the system lists them, and the files that exist.
    std::vector<Drive> drives;
    DriveList driveList = DriveList::Listed;
    std::vector<std::string> files;

    // The running executable's full path; an empty path makes the call fail.
    std::string modulePath = "C:\\Setup\\Quilra3Patch.exe";
    Truncation truncation = Truncation::WindowsXP;

    // Above 32 is success; 2 is "file not found".
    std::intptr_t shellExecuteResult = 42;

    bool kernel32Loaded = true;
    bool hasSetDefaultDllDirectories = true;
    BOOL setDefaultDllDirectoriesResult = TRUE;

    // What RegisterWindowMessageA returns; 0 is failure.
    UINT registeredMessage = 0xC1A5;

    // DialogBoxParamA: when `dialogEvents` is empty the call returns
    // `dialogBoxResult` at once without running the procedure. Otherwise it
    // runs a modal loop: WM_INITDIALOG, then each event in turn with the
    // posted messages delivered after each, until EndDialog; it returns the
    // EndDialog result, or `dialogBoxResult` when the events run out first.
    std::vector<DialogMessage> dialogEvents;
    INT_PTR dialogBoxResult = 0;

    // What the stand-in locator (StubLocator.cpp) reports.
    BOOL locatorResult = FALSE;
};

extern Machine machine;
extern std::vector<std::string> calls;

// Messages posted with PostMessageA and not yet delivered.
extern std::deque<std::pair<HWND, DialogMessage>> posted;
// Set by EndDialog until the next Reset.
extern bool dialogEnded;
// RegisterWindowMessageA calls since the process started; never reset.
extern unsigned registrationsThisProcess;

// The window DialogBoxParamA's modal loop uses, named "hDlg" in the log.
extern const HWND kDialogWindow;
// The handle GetModuleHandleA returns for kernel32.dll, named "kernel32".
extern const HMODULE kKernel32;

// Restores a machine with no drives and empties the log and the queue.
void Reset();

// Appends one entry to the log.
void Record(const std::string &entry);

// Shows a handle, window or procedure by this name in the log.
void Name(std::uintptr_t value, const std::string &name);
template <class T> void Name(T *pointer, const std::string &name)
{
    Name(reinterpret_cast<std::uintptr_t>(pointer), name);
}

// Delivers posted messages to the procedure, oldest first, until the queue
// is empty or the dialog has ended (a closed dialog receives nothing more).
// Gives up after `limit` messages; returns how many it delivered.
int DeliverPosted(DLGPROC proc, int limit = 16);

// Fills a buffer handed to the machine with a pattern that reads as a list
// of bogus roots "#:\", so that a caller acting on bytes the call did not
// promise shows up in the log.
void FillWithPoison(CHAR *buffer, std::size_t size);

} // namespace fake
