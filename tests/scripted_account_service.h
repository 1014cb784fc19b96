// A scripted stand-in for every function of platform/account_service.h,
// linked into the unit tests in place of the real service. Tests fill
// account_script with what each operation answers and read back what was
// passed to it.
#pragma once

#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/word_list.h"
#include "platform/account_backend.h"
#include "platform/account_service.h"

using WideString = std::basic_string<WCHAR>;

// An account as the scripted service returns it; an absent member is
// returned as a null pointer.
struct ScriptedUser {
    std::optional<WideString> name;
    std::optional<WideString> password;
    DWORD password_age = 0;
    DWORD priv = USER_PRIV_USER;
    std::optional<WideString> home_dir;
    std::optional<WideString> comment;
    DWORD flags = 0;
    std::optional<WideString> script_path;
};

// One answer of NetUserGetInfo, or one batch of NetUserEnum. A buffer is
// returned with a success or ERROR_MORE_DATA, or when with_buffer asks for
// one alongside a failure.
struct ScriptedAnswer {
    NET_API_STATUS result = NERR_Success;
    std::vector<ScriptedUser> users;
    bool with_buffer = false;
};

// NetUserAdd and NetUserSetInfo: the result and the parameter-error index.
struct ScriptedWrite {
    NET_API_STATUS result = NERR_Success;
    DWORD parameter_index = 0;
};

struct ScriptedLogon {
    BOOL accepted = TRUE;
    DWORD last_error = 0;
};

// What one call was given.
struct ServiceCall {
    std::string operation;
    std::optional<WideString> server;
    std::optional<WideString> user;
    DWORD level = 0;
    DWORD filter = 0;
    DWORD preferred_length = 0;
    std::optional<DWORD> resume;  // the value the resume handle held
    std::optional<ScriptedUser> record;
    std::optional<WideString> group;
    std::vector<WideString> members;
    std::optional<WideString> password;
    DWORD logon_type = 0;
    DWORD logon_provider = 0;
};

struct AccountScript {
    // Answers are taken from the front, one per call. When a queue is
    // empty: NetUserGetInfo answers NERR_UserNotFound, NetUserEnum an
    // empty success, LogonUserW ERROR_LOGON_FAILURE, every other success.
    std::deque<ScriptedAnswer> info_answers;
    std::deque<ScriptedAnswer> enum_batches;
    std::deque<ScriptedWrite> add_answers;
    std::deque<ScriptedWrite> set_info_answers;
    std::deque<NET_API_STATUS> del_answers;
    std::deque<NET_API_STATUS> add_members_answers;
    std::deque<ScriptedLogon> logon_answers;
    // What end_account_change answers. A change is not a call: calls and
    // call_names leave it out, open_changes counts those not yet ended.
    NET_API_STATUS change_end_answer = NERR_Success;
    int open_changes = 0;
    int changes_ended = 0;
    int changes_undone = 0;
    // The last shape narrow_next_listing was given.
    std::vector<std::string> listing_shape;
    // What the configuration chose.
    std::string chosen_store;
    StoreSettings store_settings;
    // What NetUserModalsGet answers, and its minimum password length.
    NET_API_STATUS modals_answer = NERR_Success;
    DWORD min_password_length = 0;

    std::vector<ServiceCall> calls;
    std::map<void *, std::shared_ptr<void>> outstanding_buffers;
    int unknown_frees = 0;
    int open_tokens = 0;
};

extern AccountScript account_script;

void reset_account_script();

// The calls of one operation, in order.
std::vector<ServiceCall> calls_of(const std::string &operation);
// The names of every operation called, in order.
std::vector<std::string> call_names();

WideString wide(const char *text);
std::string narrow(const WideString &text);

// Helpers for the command tests.

// Puts the process-wide state back as a fresh process has it: no negative
// reply given, logging off, settings of a configured host TESTHOST, group
// Guests, the default comment, and an empty script.
void reset_command_state();

// The words "lodgate" followed by words, as the tokenizer makes them.
OwnedWordList command_words(const std::vector<std::string> &words);

struct CommandRun {
    int result = 0;
    std::string out;  // what reached standard output
};

// Runs handler over "lodgate" and words, with the command word at index 1.
CommandRun run_command(CommandHandler handler, const std::vector<std::string> &words);

// Trace lines written while it lives, at the given level, into a file of
// its own.
struct TraceCapture {
    explicit TraceCapture(int level);
    ~TraceCapture();
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    // The messages so far, each as "LEVEL message".
    std::vector<std::string> messages() const;
    bool has(const std::string &level, const std::string &message) const;
    std::string text() const;

    std::FILE *file = nullptr;
};
