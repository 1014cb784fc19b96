#include "command/dispatcher.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "command/command_loop.h"
#include "protocol/replies.h"
#include "tests/process_state.h"

namespace {

struct Words {
    std::vector<const char *> pointers;
    explicit Words(std::vector<const char *> words) : pointers(std::move(words))
    {
        pointers.push_back(nullptr);
    }
    WordList view() const { return {pointers.data(), static_cast<int>(pointers.size()) - 1}; }
};

int command_index(std::vector<const char *> words)
{
    Words list(std::move(words));
    WordList view = list.view();
    return skip_option_words(&view);
}

std::string dispatched(std::vector<const char *> words)
{
    Words list(std::move(words));
    testing::internal::CaptureStdout();
    dispatch_command(list.view());
    return testing::internal::GetCapturedStdout();
}

struct Dispatcher : testing::Test {
    void SetUp() override { reset_process_state(); }
    void TearDown() override { reset_process_state(); }
};

}  // namespace

TEST(SkipOptionWords, FindsTheCommandWord)
{
    EXPECT_EQ(command_index({"p", "check", "bob", "pw"}), 1);
    EXPECT_EQ(command_index({"p", "debug", "check", "bob", "pw"}), 2);
    EXPECT_EQ(command_index({"p", "log", "info", "check", "bob", "pw"}), 3);
    EXPECT_EQ(command_index({"p", "-log", "error", "check"}), 3);
    EXPECT_EQ(command_index({"p", "log", "check", "bob", "pw"}), 2);
    EXPECT_EQ(command_index({"p", "path", "D:\\logs", "check"}), 3);
    EXPECT_EQ(command_index({"p", "-path", "check", "version"}), 3);
    EXPECT_EQ(command_index({"p", "path"}), 2);
    EXPECT_EQ(command_index({"p", "path", "D:\\logs"}), 3);
    EXPECT_EQ(command_index({"p", "log_passwords", "check"}), 1);
    EXPECT_EQ(command_index({"p", "log", "DEBUG"}), 2);
    EXPECT_EQ(command_index({"p"}), 1);
    EXPECT_EQ(skip_option_words(nullptr), 0);
}

TEST_F(Dispatcher, OptionsOnlyWriteNothingAndKeepTheLoopRunning)
{
    EXPECT_EQ(dispatched({"p", "path", "D:\\logs"}), "");
    EXPECT_TRUE(keep_running);
    keep_running = false;
    EXPECT_EQ(dispatched({"p"}), "");
    EXPECT_TRUE(keep_running);
}

TEST_F(Dispatcher, UnknownWordsGetTheInvalidCommandReply)
{
    EXPECT_EQ(dispatched({"p", "CHECK", "bob"}), "-ERR Not a valid command (CHECK) use \"help\"\n");
    negative_reply_given = false;
    EXPECT_EQ(dispatched({"p", "-quit"}), "-ERR Not a valid command (-quit) use \"help\"\n");
    negative_reply_given = false;
    EXPECT_EQ(dispatched({"p", ""}), "-ERR Not a valid command () use \"help\"\n");
    negative_reply_given = false;
    EXPECT_EQ(dispatched({"p", "%s%n%x"}), "-ERR Not a valid command (%s%n%x) use \"help\"\n");
}

TEST_F(Dispatcher, BuiltInCommands)
{
    EXPECT_EQ(dispatched({"p", "version"}), "+OK Lodgate version 1.0i\n");
    EXPECT_EQ(dispatched({"p", "debug", "-version", "x"}), "+OK Lodgate version 1.0i\n");
    std::string help = dispatched({"p", "-help"});
    EXPECT_EQ(help.substr(0, 21), "+DATA Valid commands\n");
    EXPECT_EQ(help.substr(help.size() - 4), "+OK\n");
    keep_running = true;
    EXPECT_EQ(dispatched({"p", "exit"}), "+OK\n");
    EXPECT_FALSE(keep_running);
}
