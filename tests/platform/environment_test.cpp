// SPDX-License-Identifier: GPL-2.0-or-later
// The quiet-thread scope: code running on a worker thread neither shows
// warnings nor changes the busy cursor, and other threads are unaffected.
#include "platform/environment.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

class QuietThreadTest : public testing::Test {
protected:
    void SetUp() override
    {
        setWarningHook([this](const std::string&, const std::string& text) { warnings.push_back(text); });
        setBusyCursorHook([this](bool busy) { cursor.push_back(busy); });
    }
    void TearDown() override
    {
        setWarningHook(nullptr);
        setBusyCursorHook(nullptr);
        setBusyCursor(false);
    }

    std::vector<std::string> warnings;
    std::vector<bool> cursor;
};

TEST_F(QuietThreadTest, AQuietThreadShowsNothingAndLeavesTheCursorAlone)
{
    std::thread worker([] {
        QuietThreadScope quiet;
        EXPECT_TRUE(threadIsQuiet());
        showWarning("PNG Error", "from the worker");
        setBusyCursor(true);
    });
    worker.join();
    EXPECT_TRUE(warnings.empty());
    EXPECT_TRUE(cursor.empty());
    EXPECT_FALSE(busyCursorShown());

    // The scope belongs to the worker: this thread still reports.
    EXPECT_FALSE(threadIsQuiet());
    showWarning("PNG Error", "from here");
    setBusyCursor(true);
    EXPECT_EQ(warnings, std::vector<std::string>{"from here"});
    EXPECT_EQ(cursor, std::vector<bool>{true});
    EXPECT_TRUE(busyCursorShown());
}

TEST_F(QuietThreadTest, TheThreadReportsAgainOnceTheScopesEnd)
{
    {
        QuietThreadScope outer;
        {
            QuietThreadScope inner;
        }
        showWarning("c", "still quiet");
    }
    showWarning("c", "heard");
    EXPECT_EQ(warnings, std::vector<std::string>{"heard"});
}

}  // namespace
