// The disc prompt's procedure, message by message and through the sequence
// the shell starts when a disc is inserted: the query is answered at once,
// the retry arrives later through the queue, and the dialog ends after it.
#include "PromptSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace prompt;

// What the simulated system registers "QueryCancelAutoPlay" as.
constexpr UINT kQuery = 0xC1A5;

class Prompt : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        fake::machine.registeredMessage = kQuery;
        // The procedure registers the query on its first message in the
        // process; this one takes that, so each test sees only its own calls.
        Send(kWmNull);
        fake::calls.clear();
    }

    // Registration happens once per run, whichever test ran first.
    void TearDown() override { EXPECT_EQ(fake::registrationsThisProcess, 1u); }
};

class Message : public Prompt, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(Message, IsAnsweredAsTheDialogManagerExpects)
{
    const MessageCase &message = GetParam();
    fake::machine.locatorResult = message.locatorResult;

    EXPECT_EQ(Send(message.msg, message.wParam, message.lParam), message.result);
    EXPECT_EQ(fake::calls, message.calls);
}

const LPARAM kCancelButton = 0x20A4;
const LPARAM kOkButton = 0x20A2;

INSTANTIATE_TEST_SUITE_P(Cases, Message, ::testing::Values(
    // The dialog manager then focuses the first tab stop, Cancel.
    MessageCase{"InitDialog", WM_INITDIALOG, 0x20A4, 0, TRUE, {}},

    // Cancel, Esc and the close box all arrive as IDCANCEL.
    MessageCase{"CancelButton", WM_COMMAND, Command(IDCANCEL, kBnClicked), kCancelButton, TRUE, {kEndDialog}},
    MessageCase{"EscOrCloseBox", WM_COMMAND, Command(IDCANCEL, 0), 0, TRUE, {kEndDialog}},
    MessageCase{"CancelFromAccelerator", WM_COMMAND, Command(IDCANCEL, 1), 0, TRUE, {kEndDialog}},

    // Any other command is taken and leaves the prompt open.
    MessageCase{"OkCommand", WM_COMMAND, Command(IDOK, kBnClicked), kOkButton, TRUE, {}},
    MessageCase{"OtherControl", WM_COMMAND, Command(1000, kBnClicked), kOkButton, TRUE, {}},
    MessageCase{"IdCancelOnlyInTheHighWord", WM_COMMAND, Command(IDOK, IDCANCEL), kOkButton, TRUE, {}},

    // Everything else goes to the dialog manager's defaults.
    MessageCase{"Null", kWmNull, 0, 0, FALSE, {}},
    MessageCase{"Paint", kWmPaint, 0, 0, FALSE, {}},
    MessageCase{"Close", kWmClose, 0, 0, FALSE, {}},
    MessageCase{"SetFont", kWmSetFont, 0x1234, 1, FALSE, {}},
    MessageCase{"DeviceChange", kWmDeviceChange, 0x8000, 0x1234, FALSE, {}},
    MessageCase{"User", WM_USER, 0, 0, FALSE, {}},
    MessageCase{"UserPlusTwo", WM_USER + 2, 0, 0, FALSE, {}},
    MessageCase{"OtherRegisteredMessage", kQuery + 1, 0, 0, FALSE, {}},

    // The shell's AutoPlay query: 1 in the message result cancels AutoPlay;
    // the launch is only posted, so the shell is not kept waiting on it. The
    // query's own wParam and lParam (drive number, content type) are not
    // passed on.
    MessageCase{"AutoPlayQuery", kQuery, 4, 0x10, TRUE, {kAnswerCancelsAutoPlay, kPostRetry}},

    // The posted retry launches and ends the prompt whatever the outcome.
    MessageCase{"RetryFindsTheDisc", kRetryLaunch, 0, 0, TRUE, {kLocator, kEndDialog}, TRUE},
    MessageCase{"RetryFindsNothing", kRetryLaunch, 0, 0, TRUE, {kLocator, kEndDialog}, FALSE}),
    CaseName);

TEST_F(Prompt, InsertedDiscCancelsAutoPlayThenLaunchesFromTheQueueAndEnds)
{
    fake::machine.locatorResult = TRUE;

    EXPECT_EQ(Send(kQuery, 4, 0x10), TRUE);
    // Within the query: the answer and the posted retry, no launch.
    EXPECT_EQ(fake::calls, (Calls{kAnswerCancelsAutoPlay, kPostRetry}));

    EXPECT_EQ(fake::DeliverPosted(Proc), 1);
    EXPECT_EQ(fake::calls, (Calls{kAnswerCancelsAutoPlay, kPostRetry, kLocator, kEndDialog}));
    EXPECT_TRUE(fake::dialogEnded);
}

TEST_F(Prompt, SecondQueryWhileTheRetryIsPendingIsAnsweredTheSameWay)
{
    EXPECT_EQ(Send(kQuery, 4, 0x10), TRUE);
    EXPECT_EQ(Send(kQuery, 5, 0x10), TRUE);
    EXPECT_EQ(fake::DeliverPosted(Proc), 1);  // the dialog has ended after the first retry
    EXPECT_EQ(fake::calls, (Calls{kAnswerCancelsAutoPlay, kPostRetry, kAnswerCancelsAutoPlay, kPostRetry,
                                  kLocator, kEndDialog}));
}

TEST_F(Prompt, CancelWhileTheRetryIsPendingEndsWithoutLaunch)
{
    EXPECT_EQ(Send(kQuery, 4, 0x10), TRUE);
    EXPECT_EQ(Send(WM_COMMAND, Command(IDCANCEL, kBnClicked), kCancelButton), TRUE);
    EXPECT_EQ(fake::DeliverPosted(Proc), 0);
    EXPECT_EQ(fake::calls, (Calls{kAnswerCancelsAutoPlay, kPostRetry, kEndDialog}));
}

// "QueryCancelAutoPlay" is registered on the procedure's first message in the
// process, whatever that message is, and never again. ctest runs each case in
// a process of its own, so each kind of message is seen first once; run whole,
// only the first case to run sees the registration, and the others check that
// there is none.
class FirstMessage : public ::testing::TestWithParam<MessageCase> {
protected:
    void SetUp() override
    {
        fake::Reset();
        fake::machine.registeredMessage = kQuery;
    }
};

TEST_P(FirstMessage, RegistersTheQueryOnceOnTheFirstMessage)
{
    const MessageCase &message = GetParam();
    const bool firstInProcess = g_messagesSeen == 0;

    EXPECT_EQ(Send(message.msg, message.wParam, message.lParam), message.result);
    EXPECT_EQ(WithoutRegistration(fake::calls), message.calls);
    EXPECT_EQ(std::count(fake::calls.begin(), fake::calls.end(), kRegistration), firstInProcess ? 1 : 0);

    fake::calls.clear();
    Send(WM_INITDIALOG);
    Send(kQuery);
    Send(kWmNull);
    EXPECT_EQ(std::count(fake::calls.begin(), fake::calls.end(), kRegistration), 0);
    EXPECT_EQ(fake::registrationsThisProcess, 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, FirstMessage, ::testing::Values(
    MessageCase{"SetFont", kWmSetFont, 0x1234, 1, FALSE, {}},
    MessageCase{"InitDialog", WM_INITDIALOG, 0, 0, TRUE, {}},
    MessageCase{"Cancel", WM_COMMAND, Command(IDCANCEL, kBnClicked), kCancelButton, TRUE, {kEndDialog}},
    MessageCase{"OtherCommand", WM_COMMAND, Command(IDOK, kBnClicked), kOkButton, TRUE, {}},
    MessageCase{"Retry", kRetryLaunch, 0, 0, TRUE, {kLocator, kEndDialog}},
    MessageCase{"Null", kWmNull, 0, 0, FALSE, {}},
    // Taken as the query already, since the identifier is known by then.
    MessageCase{"TheQueryItself", kQuery, 4, 0x10, TRUE, {kAnswerCancelsAutoPlay, kPostRetry}}),
    CaseName);

} // namespace
