// check <user> <pass>: the daemons' password test, by a logon on the host.
// The check itself serves lodgate-auth too, which turns its outcome into an
// exit status instead of a reply.
#pragma once

#include "accounts/account_text.h"
#include "accounts/reply_table.h"
#include "protocol/word_list.h"

// What a check comes to for whoever asked.
enum class CheckResult {
    RIGHT,
    REFUSED,  // wrong password, unknown name, locked or disabled account
    FAULT,    // the service could not tell; a later try may pass
};

// Where a check ended, which picks the module's reply.
enum class CheckStep {
    NO_USER,         // no user word: the help listing, no reply
    CONVERSION,      // a word that does not convert; code: why
    NO_PASSWORD,     // no password word
    EMPTY_PASSWORD,  // never offered to the service
    NO_HOST,
    LOGON,           // refused; code: the logon's error
    ACCOUNT_READ,    // after the logon; code: the read's result
};

struct CheckOutcome {
    CheckResult result = CheckResult::FAULT;
    CheckStep step = CheckStep::NO_USER;
    DWORD code = 0;
    const char *reason = "";  // why it is not RIGHT, for a caller's log; never a secret
    // RIGHT: the account as the local computer holds it (its own form of
    // the name, home directory, comment, script path).
    ServiceBuffer account;
};

// Checks password (none when the word is missing) for user by a logon on
// the host and reads the account, writing the check's trace lines; a
// missing user writes the first alone. -1 when user is missing; 1 when the
// outcome is RIGHT; 0 otherwise.
int check_password(const char *user, const char *password, CheckOutcome &outcome);

// Writes the module's reply to outcome for the user word as given, and the
// trace line that follows a failed logon or read. Returns do_check's result.
int reply_to_check(const char *user, const CheckOutcome &outcome);

// -1 when the user word is missing; 1 after the positive reply with the
// account's user information; 0 after a negative reply.
int do_check(const WordList &words, int command_index);
