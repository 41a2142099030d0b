// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/error_box.h"

#include "platform/environment.h"
#include "platform/exceptions.h"
#include "tests/app/app_test_support.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct TextCase {
    std::string message;
    std::string shown;
};

class ErrorBoxText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ErrorBoxText, AddsFullStopOnlyAfterCodesAboveTheFullStop)
{
    EXPECT_EQ(errorBoxText(GetParam().message), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Rule, ErrorBoxText,
                         ::testing::Values(TextCase{"abc", "abc."}, TextCase{"x)", "x)"}, TextCase{"", ""},
                                           TextCase{"a ", "a "}, TextCase{"1", "1."}, TextCase{":", ":."},
                                           TextCase{"done.", "done."}, TextCase{"wow!", "wow!"}, TextCase{"a/", "a/."},
                                           TextCase{"a-", "a-"},
                                           TextCase{"Cannot open file /tmp/x.img", "Cannot open file /tmp/x.img."},
                                           // A byte above 127 (a Windows-1250 or UTF-8 letter) counts as above ".".
                                           TextCase{"caf\xC3\xA9", "caf\xC3\xA9."}));

TEST(RunGuarded, ShowsTheErrorBoxAndRestoresTheCursor)
{
    apptest::ScriptedDialogs dialogs;
    setBusyCursor(true);
    runGuarded(dialogs, [] { throw EFOpenError("Cannot open file /x/y.dir"); });
    EXPECT_FALSE(busyCursorShown());
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_EQ(dialogs.errors[0].caption, "Brel Quarnix :)");
    EXPECT_EQ(dialogs.errors[0].text, "Cannot open file /x/y.dir.");

    runGuarded(dialogs, [] { throw std::runtime_error("plain (std)"); });
    ASSERT_EQ(dialogs.errors.size(), 2u);
    EXPECT_EQ(dialogs.errors[1].text, "plain (std)");
}

TEST(RunGuarded, LeavesEverythingAloneWhenTheHandlerSucceeds)
{
    apptest::ScriptedDialogs dialogs;
    setBusyCursor(true);
    bool ran = false;
    runGuarded(dialogs, [&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(busyCursorShown());
    EXPECT_TRUE(dialogs.errors.empty());
    setBusyCursor(false);
}

}  // namespace
