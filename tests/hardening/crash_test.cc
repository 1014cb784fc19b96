// Kill -9 of a module at random moments while it creates, updates and
// deletes accounts. Afterwards the file passes SQLite's integrity check,
// every account is as before or as after the command that was cut off, and
// every answered command holds: a created account verifies its password.
// LODGATE_KILLS sets the number of kills (tools/soak runs 1,000).
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "tests/hardening/child_process.h"
#include "tests/hardening/installation.h"

namespace {

struct ModelAccount {
    std::string password;
    std::string comment;
    bool grouped = true;  // a member of the group that new accounts join
};
using Model = std::map<std::string, ModelAccount>;  // by folded name

struct Command {
    std::string line;
    std::string name;  // folded
    enum Kind { CREATE, UPDATE, REMOVE } kind;
    ModelAccount values;
};

const char *const NAMES[] = {"acct0", "acct1", "acct2", "acct3"};

Command random_command(std::mt19937 &random, int serial)
{
    std::string name = NAMES[random() % 4];
    Command command{"", upper_ascii(name), Command::Kind(random() % 3), {}};
    command.values.password = "pw-" + std::to_string(serial);
    command.values.comment = "c" + std::to_string(serial);
    switch (command.kind) {
    case Command::CREATE:
        command.line = "set " + name + " " + command.values.password + " comment=" +
                       command.values.comment;
        break;
    case Command::UPDATE:
        command.line = "set " + name + " (NULL) comment=" + command.values.comment;
        break;
    case Command::REMOVE:
        command.line = "del " + name;
        break;
    }
    return command;
}

// The model after a command that was carried out.
void carry_out(Model &model, const Command &command)
{
    auto found = model.find(command.name);
    if (command.kind == Command::CREATE)
        model[command.name] = command.values;
    else if (command.kind == Command::UPDATE && found != model.end())
        found->second.comment = command.values.comment;
    else if (command.kind == Command::REMOVE && found != model.end())
        model.erase(found);
}

bool is_success(const std::string &reply)
{
    return reply.rfind("+OK", 0) == 0 && reply != "+OK User account not found.";
}

// True when the stored accounts are exactly the model.
bool holds(const AccountSnapshot &stored, const Model &model, std::string &why)
{
    if (stored.size() != model.size()) {
        why = std::to_string(stored.size()) + " accounts stored, " +
              std::to_string(model.size()) + " expected";
        return false;
    }
    for (const auto &[name, expected] : model) {
        auto found = stored.find(name);
        if (found == stored.end()) {
            why = name + " missing";
            return false;
        }
        const StoredAccount &account = found->second;
        Lines groups = expected.grouped ? Lines{"Guests"} : Lines{};
        if (account.comment != expected.comment || account.groups != groups ||
            !password_verifies(expected.password, account.password_hash)) {
            why = name + " differs: " + testing::PrintToString(account);
            return false;
        }
    }
    return true;
}

int kill_count()
{
    const char *text = std::getenv("LODGATE_KILLS");
    return text ? std::atoi(text) : 100;
}

TEST(Crash, KilledModulesLeaveEveryAccountWholeAndEveryAnswerKept)
{
    Installation installation("");
    std::mt19937 random(20261208);
    Model model;
    int serial = 0;
    int kills = 0, cut_commands = 0, answered = 0;
    for (int round = 0; round < kill_count(); ++round) {
        std::vector<Command> commands;
        for (int i = 0; i < 4; ++i)
            commands.push_back(random_command(random, ++serial));
        ModuleProcess module;
        ASSERT_TRUE(start_module(module, installation.directory.path));
        for (const Command &command : commands)
            ASSERT_TRUE(send_line(module, command.line));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 250000));
        kill_module(module);
        ++kills;
        Lines replies = read_all_lines(module);
        ASSERT_LE(replies.size(), commands.size());
        for (std::size_t i = 0; i < replies.size(); ++i)
            if (is_success(replies[i]))
                carry_out(model, commands[i]);
        answered += static_cast<int>(replies.size());
        ASSERT_EQ(integrity_check(installation.database), "ok") << "round " << round;
        AccountSnapshot stored = read_accounts(installation.database);
        std::string why_before, why_after;
        if (holds(stored, model, why_before))
            continue;
        // The command cut off may have been carried out before its reply.
        ASSERT_LT(replies.size(), commands.size());
        Model after = model;
        const Command &cut = commands[replies.size()];
        carry_out(after, cut);
        ASSERT_TRUE(holds(stored, after, why_after))
            << "round " << round << ", cut off in: " << commands[replies.size()].line
            << "\nas before: " << why_before << "\nas after: " << why_after;
        model = after;
        ++cut_commands;
    }
    std::printf("%d kills, %d commands answered, %d carried out unanswered\n", kills, answered,
                cut_commands);
    RecordProperty("kills", kills);
}

}  // namespace
