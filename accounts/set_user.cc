#include "accounts/set_user.h"

#include <cstring>

#include "accounts/reply_table.h"
#include "accounts/user_word.h"
#include "protocol/replies.h"
#include "config/host.h"
#include "config/settings.h"
#include "homedir/home_directory.h"
#include "text/text.h"
#include "log/trace_log.h"
#include "platform/account_service.h"
#include "platform/parameter_number.h"
#include "platform/text_conversion.h"

namespace {

// The password word that keeps an existing account's password.
constexpr char KEEP_PASSWORD_WORD[] = "(NULL)";
// A longer value is cut here and then fails its conversion to wide.
constexpr std::size_t USER_INFO_VALUE_MAX = 512;
constexpr char PASSWORD_TOO_SHORT_REPLY[] = "-ERR The password is shorter than required.";
constexpr DWORD NEW_ACCOUNT_FLAGS = UF_SCRIPT | UF_NORMAL_ACCOUNT | UF_DONT_EXPIRE_PASSWD;

constexpr ReplyRow PROBE_ROWS[] = {
    {ERROR_ACCESS_DENIED, ACCESS_DENIED_REPLY, ReplyArgument::NONE},
    {NERR_UserNotFound, "-ERR User account not found.", ReplyArgument::NONE},
    {NERR_InvalidComputer, INVALID_COMPUTER_REPLY, ReplyArgument::NONE},
};
constexpr ReplyTable PROBE_TABLE = {PROBE_ROWS, {0, UNKNOWN_ERROR_REPLY, ReplyArgument::CODE}};

// ERROR_INVALID_PARAMETER is answered by reply_write_failure; a second
// NERR_UserExists, after the one replacement, by the row for any other.
constexpr ReplyRow ADD_ROWS[] = {
    {ERROR_ACCESS_DENIED, ACCESS_DENIED_REPLY, ReplyArgument::NONE},
    {ERROR_BAD_NETPATH, "-ERR %d:The network path was not found.", ReplyArgument::CODE},
    {NERR_GroupExists, "-ERR The group already exists.", ReplyArgument::NONE},
    {NERR_NotPrimary, NOT_PRIMARY_REPLY, ReplyArgument::NONE},
    {NERR_PasswordTooShort, PASSWORD_TOO_SHORT_REPLY, ReplyArgument::NONE},
    {NERR_InvalidComputer, INVALID_COMPUTER_REPLY, ReplyArgument::NONE},
};
constexpr ReplyTable ADD_TABLE = {ADD_ROWS, {0, UNKNOWN_ERROR_HAS_REPLY, ReplyArgument::CODE}};

constexpr ReplyRow REMOVE_ROWS[] = {
    {ERROR_ACCESS_DENIED, ACCESS_DENIED_REPLY, ReplyArgument::NONE},
    {NERR_NotPrimary, NOT_PRIMARY_REPLY, ReplyArgument::NONE},
    {NERR_InvalidComputer, INVALID_COMPUTER_REPLY, ReplyArgument::NONE},
};
constexpr ReplyTable REMOVE_TABLE = {REMOVE_ROWS,
                                     {0, UNKNOWN_ERROR_HAS_REPLY, ReplyArgument::CODE}};

constexpr ReplyRow JOIN_ROWS[] = {
    {ERROR_MEMBER_IN_ALIAS, "-ERR User was already a member of group %s.", ReplyArgument::TEXT},
    {ERROR_INVALID_MEMBER, "-ERR User account is invalid.", ReplyArgument::NONE},
    {NERR_GroupNotFound, "-ERR Group %s does not exist.", ReplyArgument::TEXT},
};
constexpr ReplyTable JOIN_TABLE = {JOIN_ROWS,
                                   {0, "-ERR %d:Unknown group error.", ReplyArgument::CODE}};

constexpr ReplyRow READ_ROWS[] = {
    {ERROR_ACCESS_DENIED, ACCESS_DENIED_REPLY, ReplyArgument::NONE},
    {NERR_UserNotFound, "-ERR User account not found.", ReplyArgument::NONE},
    {NERR_InvalidComputer, INVALID_COMPUTER_REPLY, ReplyArgument::NONE},
};
constexpr ReplyTable READ_TABLE = {READ_ROWS, {0, UNKNOWN_ERROR_HAS_REPLY, ReplyArgument::CODE}};

constexpr ReplyRow UPDATE_ROWS[] = {
    {ERROR_ACCESS_DENIED, ACCESS_DENIED_REPLY, ReplyArgument::NONE},
    {NERR_BadPassword, "-ERR The share name or password is invalid.", ReplyArgument::NONE},
    {NERR_UserNotFound, "-ERR User account not found.", ReplyArgument::NONE},
    {NERR_NotPrimary, NOT_PRIMARY_REPLY, ReplyArgument::NONE},
    {NERR_SpeGroupOp,
     "-ERR This operation is not allowed while you are a member or your current group.",
     ReplyArgument::NONE},
    {NERR_PasswordTooShort, PASSWORD_TOO_SHORT_REPLY, ReplyArgument::NONE},
    {NERR_InvalidComputer, INVALID_COMPUTER_REPLY, ReplyArgument::NONE},
    {NERR_LastAdmin, "-ERR This operation is not allowed on the last administrative account.",
     ReplyArgument::NONE},
};
constexpr ReplyTable UPDATE_TABLE = {UPDATE_ROWS,
                                     {0, UNKNOWN_ERROR_HAS_REPLY, ReplyArgument::CODE}};

struct UserInfoKey {
    const char *prefix;
    std::size_t length;
    LPWSTR USER_INFO_1::*member;
    WideText UserInfoTexts::*text;
    UserInfoMember parameter;  // for report_parameter_error
};

// Tested in this order, case-sensitively: HOME= is no key.
constexpr UserInfoKey USER_INFO_KEYS[] = {
    {"home=", 5, &USER_INFO_1::usri1_home_dir, &UserInfoTexts::home, MEMBER_HOME_DIR},
    {"comment=", 8, &USER_INFO_1::usri1_comment, &UserInfoTexts::comment, MEMBER_COMMENT},
    {"script=", 7, &USER_INFO_1::usri1_script_path, &UserInfoTexts::script, MEMBER_SCRIPT_PATH},
};

// A control character (CR and LF among them, which only a process argument
// can carry; C1 as UTF-8 writes it) would be stored as it is but echoed
// flattened; it is refused.
bool has_control_character(const char *text)
{
    for (const char *c = text; c != nullptr && *c != '\0'; ++c) {
        auto byte = static_cast<unsigned char>(*c);
        auto next = static_cast<unsigned char>(c[1]);
        if (byte < 0x20 || byte == 0x7F || (byte == 0xC2 && next >= 0x80 && next <= 0x9F))
            return true;
    }
    return false;
}

// Everything one creation holds; the record points into the wide texts.
struct NewAccount {
    UserWord user;
    const char *group_name = nullptr;
    WideText password;
    WideText group;
    HostName host;
    USER_INFO_1 record{};
    UserInfoTexts texts;
};

const char *text_or_empty(const SettingText &setting)
{
    return setting ? setting->c_str() : "";
}

// The reply for a failed NetUserAdd or NetUserSetInfo.
int reply_write_failure(const ReplyTable &table, DWORD result, DWORD parameter_index)
{
    if (result != ERROR_INVALID_PARAMETER)
        return reply_for_code(table, result, nullptr);
    if (!report_parameter_error(parameter_index))
        reply_negative("-ERR Parameter %d is in error.", static_cast<int>(parameter_index));
    return 0;
}

const UserInfoKey *find_user_info_key(const char *word)
{
    for (const UserInfoKey &key : USER_INFO_KEYS)
        if (same_prefix(word, key.prefix, key.length) == 0)
            return &key;
    return nullptr;
}

int read_user_info_words(USER_INFO_1 &record, UserInfoTexts &texts, const WordList &words,
                         int password_index)
{
    for (int index = password_index + 1; index < words.count; ++index) {
        const char *word = word_at(words, index);
        if (word == nullptr)
            continue;
        log_debug("Set user information {%s}.", word);
        const UserInfoKey *key = find_user_info_key(word);
        if (key == nullptr) {
            log_debug("Unknown user info {%s}", word);
            continue;
        }
        WideText &text = texts.*(key->text);
        const char *value = user_info_value(word);
        if (has_control_character(value)) {
            report_parameter_error(key->parameter);
            return 0;
        }
        if (!to_wide(value, text))
            return 0;
        record.*(key->member) = text.data();
    }
    return 1;
}

// Only an absent answer of the probe leads to creating the directory; a
// path that was not probed counts as present.
int provision_home_directory(const USER_INFO_1 &record, MadeDirectories &made)
{
    if (record.usri1_home_dir == nullptr)
        return 1;
    NarrowText home;
    if (!to_narrow(record.usri1_home_dir, home))
        return 0;
    log_debug("Checking user directory '%s'", home.text());
    if (home_directory_present(home.text()) == 0 && !make_home_directory(home.text(), &made))
        return 0;
    return 1;
}

// A set answered with a failure leaves no directory of its own behind.
int undo_directories_on_failure(int status, MadeDirectories &made)
{
    if (status != 1)
        remove_made_directories(made);
    return status;
}

int join_group(NewAccount &account)
{
    LOCALGROUP_MEMBERS_INFO_3 member{account.user.wide.data()};
    DWORD result = NetLocalGroupAddMembers(account.host.get(), account.group.data(), 3,
                                           reinterpret_cast<LPBYTE>(&member), 1);
    if (result != NERR_Success)
        return reply_for_code(JOIN_TABLE, result, account.group_name);
    return 1;
}

// An account of the same name is removed once and the creation tried
// again; that bound keeps a service that always answers NERR_UserExists
// from holding the command forever.
int add_or_replace(NewAccount &account)
{
    bool replaced = false;
    for (;;) {
        DWORD parameter_index = 0;
        DWORD result = NetUserAdd(account.host.get(), 1,
                                  reinterpret_cast<LPBYTE>(&account.record), &parameter_index);
        if (result == NERR_Success)
            return join_group(account);
        if (result != NERR_UserExists || replaced)
            return reply_write_failure(ADD_TABLE, result, parameter_index);
        log_debug("Removing existing user.");
        result = NetUserDel(account.host.get(), account.user.wide.data());
        if (result != NERR_Success)
            return reply_for_code(REMOVE_TABLE, result, nullptr);
        replaced = true;
    }
}

// The "+OK" waits for the change to be stored: a change lost at its end
// (a full disk at the commit) added nothing. A failure answered on the way
// undoes the whole change, so that a refused set has replaced nothing.
int add_account(NewAccount &account)
{
    begin_account_change();
    int status = add_or_replace(account);
    DWORD ended = end_account_change(status == 1);
    if (status != 1)
        return status;
    if (ended != NERR_Success)
        return reply_for_code(ADD_TABLE, ended, nullptr);
    reply_positive("+OK %s added to database.", account.user.word);
    return 1;
}

// The policy is asked before the home directory is made, so that a refused
// password creates nothing. An empty password is never taken; a policy
// that cannot be read leaves the judgement to the service's own check.
bool password_meets_policy(NewAccount &account)
{
    if (account.password.data()[0] == 0) {
        reply_negative(PASSWORD_TOO_SHORT_REPLY);
        return false;
    }
    ServiceBuffer modals;
    if (NetUserModalsGet(account.host.get(), 0, modals.out()) != NERR_Success)
        return true;
    DWORD minimum = reinterpret_cast<const USER_MODALS_INFO_0 *>(modals.data)->usrmod0_min_passwd_len;
    if (wide_length(account.password.data()) >= minimum)
        return true;
    reply_negative(PASSWORD_TOO_SHORT_REPLY);
    return false;
}

int create_user(const WordList &words, int command_index, NewAccount &account)
{
    // Whatever log_passwords says, no password reaches the trace log.
    log_debug("Pass = xxxx");
    const char *password_word = word_at(words, command_index + 2);
    if (has_control_character(password_word)) {
        report_parameter_error(MEMBER_PASSWORD);
        return 0;
    }
    if (!to_wide(password_word, account.password))
        return 0;
    account.group_name = text_or_empty(settings.group);
    log_debug("Joining group (%s)", account.group_name);
    if (!to_wide(account.group_name, account.group))
        return 0;
    account.host = resolve_host();
    if (!password_meets_policy(account))
        return 0;
    USER_INFO_1 &record = account.record;
    record.usri1_name = account.user.wide.data();
    record.usri1_password = account.password.data();
    record.usri1_password_age = 0;
    record.usri1_priv = USER_PRIV_USER;
    record.usri1_flags = NEW_ACCOUNT_FLAGS;
    MadeDirectories made;
    if (!parse_user_info(record, account.texts, words, command_index + 2, made))
        return 0;
    return undo_directories_on_failure(add_account(account), made);
}

}  // namespace

int set_user(const WordList &words, int command_index)
{
    NewAccount account;
    if (int opened = open_user_word("add", words, command_index, true, account.user); opened != 1)
        return opened;
    const char *password_word = word_at(words, command_index + 2);
    if (password_word == nullptr)
        return -1;
    // "(NULL)" never creates an account: only one that exists is updated.
    if (same_text(password_word, KEEP_PASSWORD_WORD) == 0) {
        if (!user_exists(account.user.wide.data()))
            return 0;
        return update_user(words, command_index);
    }
    return create_user(words, command_index, account);
}

int update_user(const WordList &words, int command_index)
{
    UserWord user;
    ServiceBuffer info;
    int found = read_user_account("update", words, command_index, READ_TABLE, user, info);
    if (found != 1)
        return found;
    UserInfoTexts texts;
    MadeDirectories made;
    if (!parse_user_info(*info.user_info(), texts, words, command_index + 2, made))
        return 0;
    DWORD parameter_index = 0;
    DWORD result = NetUserSetInfo(user.host.get(), user.wide.data(), 1, info.data,
                                  &parameter_index);
    if (result != NERR_Success)
        return undo_directories_on_failure(
            reply_write_failure(UPDATE_TABLE, result, parameter_index), made);
    reply_positive("+OK User %s added to database.", user.word);
    return 1;
}

bool user_exists(LPCWSTR user)
{
    HostName host = resolve_host();
    ServiceBuffer info;
    DWORD result = NetUserGetInfo(host.get(), user, 1, info.out());
    if (result == NERR_Success)
        return true;
    reply_for_code(PROBE_TABLE, result, nullptr);
    return false;
}

int parse_user_info(USER_INFO_1 &record, UserInfoTexts &texts, const WordList &words,
                    int password_index, MadeDirectories &made)
{
    if (!read_user_info_words(record, texts, words, password_index))
        return 0;
    // An empty comment counts as given.
    if (record.usri1_comment == nullptr) {
        if (!to_wide(text_or_empty(settings.uname), texts.comment))
            return 0;
        record.usri1_comment = texts.comment.data();
    }
    return provision_home_directory(record, made);
}

const char *user_info_value(const char *word)
{
    static char value[USER_INFO_VALUE_MAX + 1];
    if (word == nullptr)
        return nullptr;
    const char *equals = std::strchr(word, '=');
    const char *start = equals ? equals + 1 : word;
    if (*start == '"')
        ++start;
    copy_bounded(value, start, USER_INFO_VALUE_MAX);
    std::size_t length = std::strlen(value);
    if (length > 0 && value[length - 1] == '"')
        value[length - 1] = '\0';
    return value;
}

bool is_user_info_word(const char *word)
{
    return find_user_info_key(word) != nullptr;
}

int same_prefix(const char *a, const char *b, std::size_t n)
{
    if (a == nullptr || b == nullptr)
        return 1;
    return std::strncmp(a, b, n);
}
