// What the prompt's tests share: a way to send the procedure messages as the
// dialog manager does, and the log without the one-time registration.
#pragma once

#include "FakeWin32.h"
#include "Launcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace prompt {

using Calls = std::vector<std::string>;

constexpr UINT kWmNull = 0x0000;
constexpr UINT kWmPaint = 0x000F;
constexpr UINT kWmClose = 0x0010;
constexpr UINT kWmSetFont = 0x0030;
constexpr UINT kWmDeviceChange = 0x0219;
constexpr UINT kRetryLaunch = 0x0401;  // WM_USER + 1
constexpr WPARAM kBnClicked = 0;

constexpr WPARAM Command(WPARAM id, WPARAM notification)
{
    return (notification << 16) | id;
}

const std::string kRegistration = "RegisterWindowMessageA(\"QueryCancelAutoPlay\")";
const std::string kLocator = "LocateAndLaunchSetup()";
const std::string kEndDialog = "EndDialog(hDlg, 0)";
const std::string kAnswerCancelsAutoPlay = "SetWindowLongPtrA(hDlg, 0, 1)";
const std::string kPostRetry = "PostMessageA(hDlg, 0x0401, 0, 0)";

// Messages the procedure has received in this process, through Proc.
inline unsigned g_messagesSeen = 0;

inline INT_PTR CALLBACK Proc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    ++g_messagesSeen;
    return DiscPromptProc(hDlg, uMsg, wParam, lParam);
}

inline INT_PTR Send(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0)
{
    return Proc(fake::kDialogWindow, msg, wParam, lParam);
}

inline Calls WithoutRegistration(Calls calls)
{
    calls.erase(std::remove(calls.begin(), calls.end(), kRegistration), calls.end());
    return calls;
}

// One message and what the procedure must do with it.
struct MessageCase {
    const char *name;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    INT_PTR result;
    Calls calls;
    BOOL locatorResult = FALSE;
};

inline std::ostream &operator<<(std::ostream &out, const MessageCase &message)
{
    return out << message.name;
}

inline std::string CaseName(const ::testing::TestParamInfo<MessageCase> &info)
{
    return info.param.name;
}

} // namespace prompt
