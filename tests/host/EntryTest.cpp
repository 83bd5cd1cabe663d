// The entry: the DLL search is restricted before anything else, the launch is
// tried once, and the prompt runs only when the disc is missing; the exit code
// is 0 on every path. Linked with the real prompt procedure and a stand-in
// locator whose answer each test chooses.
#include "FakeWin32.h"
#include "Launcher.h"
#include "PromptSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

const HINSTANCE kInstance = reinterpret_cast<HINSTANCE>(std::uintptr_t{0x400000});
using prompt::kLocator;
const std::string kPrompt = "DialogBoxParamA(hInstance, #129, NULL, DiscPromptProc, 0)";

Calls operator+(Calls calls, const Calls &more)
{
    calls.insert(calls.end(), more.begin(), more.end());
    return calls;
}

class Entry : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        fake::Name(kInstance, "hInstance");
        fake::Name(&DiscPromptProc, "DiscPromptProc");
    }
};

// ---------------------------------------------------------------------------
// DLL search hardening, then the launch, then the prompt if needed.

struct Hardening {
    const char *name;
    bool kernel32Loaded;
    bool hasSetDefaultDllDirectories;
    BOOL setDefaultDllDirectoriesResult;
    Calls calls;
};

const std::string kKernel32 = "GetModuleHandleA(\"kernel32.dll\")";
const std::string kLookUp = "GetProcAddress(kernel32, \"SetDefaultDllDirectories\")";
const std::string kSystem32Only = "SetDefaultDllDirectories(0x800)";
const std::string kDropCurrentFolder = "SetDllDirectoryA(\"\")";

const Hardening kHardenings[] = {
    {"SystemFolderOnly", true, true, TRUE, {kKernel32, kLookUp, kSystem32Only}},
    {"RefusedThenCurrentFolderDropped", true, true, FALSE, {kKernel32, kLookUp, kSystem32Only, kDropCurrentFolder}},
    {"MissingThenCurrentFolderDropped", true, false, TRUE, {kKernel32, kLookUp, kDropCurrentFolder}},
    {"NoKernelHandleThenCurrentFolderDropped", false, true, TRUE, {kKernel32, kDropCurrentFolder}},
};

struct Outcome {
    const char *name;
    BOOL locatorResult;
    INT_PTR dialogBoxResult;
    Calls calls;
};

const Outcome kOutcomes[] = {
    {"LaunchedAtStart", TRUE, 0, {kLocator}},
    {"PromptEnded", FALSE, 0, {kLocator, kPrompt}},
    {"PromptCouldNotBeShown", FALSE, -1, {kLocator, kPrompt}},
    {"PromptReturnedOne", FALSE, 1, {kLocator, kPrompt}},
    {"PromptReturnedCancel", FALSE, IDCANCEL, {kLocator, kPrompt}},
};

class EntryPath : public Entry, public ::testing::WithParamInterface<std::tuple<Hardening, Outcome>> {};

TEST_P(EntryPath, HardensFirstThenLaunchesOrPromptsAndReturnsZero)
{
    const auto &[hardening, outcome] = GetParam();
    fake::machine.kernel32Loaded = hardening.kernel32Loaded;
    fake::machine.hasSetDefaultDllDirectories = hardening.hasSetDefaultDllDirectories;
    fake::machine.setDefaultDllDirectoriesResult = hardening.setDefaultDllDirectoriesResult;
    fake::machine.locatorResult = outcome.locatorResult;
    fake::machine.dialogBoxResult = outcome.dialogBoxResult;

    EXPECT_EQ(WinMain(kInstance, nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT), 0);
    EXPECT_EQ(fake::calls, hardening.calls + outcome.calls);
}

INSTANTIATE_TEST_SUITE_P(Cases, EntryPath,
    ::testing::Combine(::testing::ValuesIn(kHardenings), ::testing::ValuesIn(kOutcomes)),
    [](const ::testing::TestParamInfo<std::tuple<Hardening, Outcome>> &info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

// ---------------------------------------------------------------------------
// Only the instance is used: previous instance, command line and show
// command change nothing.

struct Arguments {
    const char *name;
    std::uintptr_t previousInstance;
    const char *commandLine;
    int showCommand;
};

class IgnoredArguments : public Entry, public ::testing::WithParamInterface<Arguments> {};

TEST_P(IgnoredArguments, ChangeNothing)
{
    const Arguments &arguments = GetParam();
    std::string commandLine = arguments.commandLine;

    EXPECT_EQ(WinMain(kInstance, reinterpret_cast<HINSTANCE>(arguments.previousInstance), commandLine.data(),
                      arguments.showCommand), 0);
    EXPECT_EQ(fake::calls, (Calls{kKernel32, kLookUp, kSystem32Only, kLocator, kPrompt}));
}

INSTANTIATE_TEST_SUITE_P(Cases, IgnoredArguments, ::testing::Values(
    Arguments{"Hidden", 0, "", 0},
    Arguments{"Minimized", 0, "", 7},
    Arguments{"Options", 0, "/qn /v\"TRANSFORMS=\\\"D:\\x.mst\\\"\"", 1},
    Arguments{"PathOfADisc", 0, "E:\\Data\\setup.exe", 3},
    Arguments{"PreviousInstance", 0x10000000, "--retry", 10}),
    [](const ::testing::TestParamInfo<Arguments> &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// A whole run through the modal prompt, with the real prompt procedure.

using prompt::kAnswerCancelsAutoPlay;
using prompt::kEndDialog;
using prompt::kPostRetry;
constexpr UINT kQuery = 0xC2B7;

TEST_F(Entry, DiscInsertedWhileThePromptWaitsLaunchesAgainAndEnds)
{
    fake::machine.registeredMessage = kQuery;
    fake::machine.dialogEvents = {{kQuery, 4, 0x10}};

    EXPECT_EQ(WinMain(kInstance, nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT), 0);
    EXPECT_EQ(prompt::WithoutRegistration(fake::calls),
              (Calls{kKernel32, kLookUp, kSystem32Only, kLocator, kPrompt, kAnswerCancelsAutoPlay, kPostRetry,
                     kLocator, kEndDialog}));
}

TEST_F(Entry, CancelledPromptEndsWithoutASecondAttempt)
{
    fake::machine.registeredMessage = kQuery;
    fake::machine.dialogEvents = {{WM_COMMAND, IDCANCEL, 0}, {kQuery, 4, 0x10}};

    EXPECT_EQ(WinMain(kInstance, nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT), 0);
    EXPECT_EQ(prompt::WithoutRegistration(fake::calls),
              (Calls{kKernel32, kLookUp, kSystem32Only, kLocator, kPrompt, kEndDialog}));
}

} // namespace
