// The disc prompt in a process where registering "QueryCancelAutoPlay"
// failed (RegisterWindowMessageA returned 0): no message stands for the query
// then, and message 0 in particular must not cancel AutoPlay or start a
// launch. The identifier lives for the process, so this is a process of its
// own in which registration fails from the start.
#include "PromptSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace prompt;

class Unregistered : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        fake::machine.registeredMessage = 0;
    }
};

class UnregisteredMessage : public Unregistered, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(UnregisteredMessage, NoMessageIsTakenForTheQuery)
{
    const MessageCase &message = GetParam();

    EXPECT_EQ(Send(message.msg, message.wParam, message.lParam), message.result);
    EXPECT_EQ(WithoutRegistration(fake::calls), message.calls);
    EXPECT_EQ(fake::DeliverPosted(Proc), 0);
    EXPECT_GE(fake::registrationsThisProcess, 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnregisteredMessage, ::testing::Values(
    MessageCase{"Null", kWmNull, 0, 0, FALSE, {}},
    MessageCase{"NullWithParameters", kWmNull, 4, 0x10, FALSE, {}},
    MessageCase{"UsualQueryValue", 0xC1A5, 4, 0x10, FALSE, {}},
    // The rest of the prompt works as before.
    MessageCase{"InitDialog", WM_INITDIALOG, 0, 0, TRUE, {}},
    MessageCase{"Cancel", WM_COMMAND, Command(IDCANCEL, kBnClicked), 0x20A4, TRUE, {kEndDialog}},
    MessageCase{"Retry", kRetryLaunch, 0, 0, TRUE, {kLocator, kEndDialog}}),
    CaseName);

TEST_F(Unregistered, StreamOfNullMessagesStartsNothing)
{
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Send(kWmNull), FALSE);
    EXPECT_EQ(fake::DeliverPosted(Proc), 0);
    EXPECT_EQ(WithoutRegistration(fake::calls), Calls{});
    EXPECT_FALSE(fake::dialogEnded);
}

} // namespace
