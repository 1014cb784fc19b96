// lodgate-admin: the administrator's tool over the POSIX account database.
// Each family of subcommands takes its words after the family's name and
// returns an exit status.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/account_backend.h"

constexpr int ADMIN_OK = 0;
constexpr int ADMIN_FAILED = 1;
constexpr int ADMIN_USAGE = 2;

struct AdminOptions {
    bool tsv = false;             // tab-separated output for scripts
    bool password_stdin = false;  // one password line from standard input
};

using AdminWords = std::vector<std::string>;

int run_user_command(const AdminWords &words, const AdminOptions &options);
int run_group_command(const AdminWords &words, const AdminOptions &options);
int run_import_command(const AdminWords &words, const AdminOptions &options);
int run_policy_command(const AdminWords &words, const AdminOptions &options);
int run_check_command(const AdminWords &words, const AdminOptions &options);

// The store the configuration chose, for every family; set before any runs.
extern const AccountBackend *admin_store;

// Writes "lodgate-admin: TEXT" to standard error and returns status.
int admin_fail(int status, const char *format, ...) __attribute__((format(gnu_printf, 2, 3)));
// The message of a service result code, for admin_fail.
const char *admin_status_text(unsigned long status);
// Why the store refuses the member that user_record_fault names.
const char *admin_member_text(unsigned long member);
