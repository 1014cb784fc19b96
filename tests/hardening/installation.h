// One module installation for the hardening tests: a directory with
// lodgate.ini, the account database and the trace log, the module run over
// it as a child process, and the database read directly with SQLite.
#pragma once

#include <map>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/test_support.h"

using Lines = std::vector<std::string>;

// An account as the database holds it.
struct StoredAccount {
    std::string name;
    std::string password_hash;
    std::optional<std::string> home_dir;
    std::optional<std::string> comment;
    std::optional<std::string> script_path;
    long long flags = 0;
    std::vector<std::string> groups;

    bool operator==(const StoredAccount &) const = default;
};

// For readable failures.
void PrintTo(const StoredAccount &account, std::ostream *out);

// Accounts by folded (upper-case ASCII) name.
using AccountSnapshot = std::map<std::string, StoredAccount>;

struct Installation {
    TempDir directory;
    std::string database;

    // lodgate.ini with the log level line (none: logging off) and extra lines.
    explicit Installation(const std::string &log_line = "log debug",
                          const std::string &extra = "");
    void configure(const std::string &log_line, const std::string &extra);

    RunResult run(const std::vector<std::string> &args, const std::string &input = "") const;
    // The reply lines to input lines in terminal mode, quit appended.
    Lines replies(const std::string &input) const;
    std::string log() const;
};

// Every account of the database file; empty when it cannot be read.
AccountSnapshot read_accounts(const std::string &database);
// PRAGMA integrity_check's answer.
std::string integrity_check(const std::string &database);
// Runs one statement on the file; false when SQLite refuses it.
bool execute_sql(const std::string &database, const std::string &sql);
// True when password gives stored_hash again under crypt(3).
bool password_verifies(const std::string &password, const std::string &stored_hash);

std::string upper_ascii(std::string text);
std::string hex_of(const std::string &bytes);
std::string base64_of(const std::string &bytes);
