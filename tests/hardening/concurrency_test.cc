// Eight module processes on one database running mixed set, check, lookup,
// search and del. No reply may carry a busy, locked or internal failure,
// each process's own accounts answer as if it ran alone, and the end state
// equals its commands carried out one after another. LODGATE_SOAK_SECONDS
// sets the length (tools/soak runs minutes).
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "tests/hardening/child_process.h"
#include "tests/hardening/installation.h"

namespace {

constexpr int PROCESSES = 8;
constexpr int NAMES_EACH = 3;

struct Worker {
    ModuleProcess process;
    std::map<std::string, std::pair<std::string, std::string>> model;  // name: password, comment
    std::string command;
    std::string expected;  // the exact first reply line, or empty for any
    long operations = 0;
};

std::string name_of(int worker, int index)
{
    return "w" + std::to_string(worker) + "n" + std::to_string(index);
}

// Picks the next command of worker and what its reply must be, from what
// the worker alone did before.
void next_command(Worker &worker, int id, std::mt19937 &random, long serial)
{
    std::string name = name_of(id, static_cast<int>(random() % NAMES_EACH));
    auto found = worker.model.find(name);
    bool exists = found != worker.model.end();
    std::string other = name_of(static_cast<int>(random() % PROCESSES), 0);
    std::string password = "pw" + std::to_string(serial);
    std::string comment = "c" + std::to_string(serial);
    switch (random() % 8) {
    case 0:
        worker.command = "set " + name + " " + password + " comment=" + comment;
        worker.expected = "+OK " + name + " added to database.";
        worker.model[name] = {password, comment};
        break;
    case 1:
        worker.command = "set " + name + " (NULL) comment=" + comment;
        worker.expected = exists ? "+OK User " + name + " added to database."
                                 : "-ERR User account not found.";
        if (exists)
            found->second.second = comment;
        break;
    case 2:
    case 3:
        worker.command = "check " + name + " " + (exists ? found->second.first : password);
        worker.expected = exists ? "+OK " + name + " config 0 comment=\"" + found->second.second +
                                       "\""
                                 : "-ERR " + name + " does not exist or password incorrect.";
        break;
    case 4:
        worker.command = "lookup " + other;
        worker.expected.clear();
        break;
    case 5:
        worker.command = "search w*";
        worker.expected.clear();
        break;
    default:
        worker.command = "del " + name;
        worker.expected = exists ? "+OK Deleted user succesfully." : "+OK User account not found.";
        worker.model.erase(name);
        break;
    }
}

bool is_failure_of_the_store(const std::string &line)
{
    for (const char *word : {"busy", "locked", "Unknown error", "database failure"})
        if (line.find(word) != std::string::npos)
            return true;
    return false;
}

int soak_seconds()
{
    const char *text = std::getenv("LODGATE_SOAK_SECONDS");
    return text ? std::atoi(text) : 20;
}

TEST(Concurrency, EightProcessesAnswerAsIfEachRanAlone)
{
    Installation installation("");
    std::vector<Worker> workers(PROCESSES);
    for (Worker &worker : workers)
        ASSERT_TRUE(start_module(worker.process, installation.directory.path));
    std::mt19937 random(8);
    long serial = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(soak_seconds());
    while (std::chrono::steady_clock::now() < end) {
        // All eight run a command at once; then every reply is read.
        for (int id = 0; id < PROCESSES; ++id) {
            next_command(workers[id], id, random, ++serial);
            ASSERT_TRUE(send_line(workers[id].process, workers[id].command));
        }
        for (Worker &worker : workers) {
            Lines reply = read_reply(worker.process);
            ASSERT_FALSE(reply.empty()) << worker.command;
            for (const std::string &line : reply) {
                ASSERT_FALSE(is_failure_of_the_store(line)) << worker.command << ": " << line;
            }
            if (!worker.expected.empty()) {
                ASSERT_EQ(reply.front(), worker.expected) << worker.command;
            }
            ++worker.operations;
        }
    }
    AccountSnapshot stored = read_accounts(installation.database);
    std::size_t expected_count = 0;
    for (int id = 0; id < PROCESSES; ++id) {
        Worker &worker = workers[id];
        EXPECT_EQ(finish_module(worker.process), 0);
        std::printf("process %d: %ld operations\n", id, worker.operations);
        expected_count += worker.model.size();
        for (const auto &[name, values] : worker.model) {
            auto found = stored.find(upper_ascii(name));
            ASSERT_NE(found, stored.end()) << name;
            EXPECT_EQ(found->second.comment, values.second) << name;
            EXPECT_TRUE(password_verifies(values.first, found->second.password_hash)) << name;
        }
    }
    EXPECT_EQ(stored.size(), expected_count);
    EXPECT_EQ(integrity_check(installation.database), "ok");
    RecordProperty("operations_per_process", static_cast<int>(workers[0].operations));
}

}  // namespace
