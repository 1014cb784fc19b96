// The netapi32 and advapi32 account functions over the account database.
#include "platform/account_service.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "accountdb/account_db.h"
#include "accountdb/account_names.h"
#include "accountdb/password_hash.h"
#include "accountdb/user_records.h"
#include "accountdb/wide_text.h"
#include "log/trace_log.h"
#include "platform/last_error.h"

namespace {

constexpr DWORD USER_LEVEL = 1;
constexpr DWORD MEMBERS_LEVEL = 3;
// A stored value that no password matches, as shadow files mark it.
constexpr const char NO_PASSWORD_HASH[] = "!";

// Names that mean this computer besides its host name.
constexpr std::string_view LOCAL_NAMES[] = {"localhost", "127.0.0.1", "."};

struct BufferRelease {
    void operator()(void *buffer) const { std::free(buffer); }
};
using ServiceBuffer = std::unique_ptr<void, BufferRelease>;

// What LogonUserW hands out; CloseHandle takes back only these.
struct LogonToken {
    std::int64_t user_id;
};
std::vector<std::unique_ptr<LogonToken>> live_tokens;

bool same_ascii_text(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (x != y && fold_code_point(x) != fold_code_point(y))
            return false;
    }
    return true;
}

bool is_this_computer(std::string_view name)
{
    for (std::string_view local : LOCAL_NAMES)
        if (same_ascii_text(name, local))
            return true;
    // Read once a process: every call compares the server name, and a
    // host renamed while a module runs is seen by the next module.
    static const std::string host = [] {
        char text[HOST_NAME_MAX + 1] = {};
        return gethostname(text, sizeof text - 1) == 0 ? std::string(text) : std::string();
    }();
    if (host.empty())
        return false;
    std::string_view full(host);
    // The computer name is the host name's first label, as NetBIOS knows it.
    return same_ascii_text(name, full) || same_ascii_text(name, full.substr(0, full.find('.')));
}

bool computer_name_is_well_formed(std::string_view name)
{
    if (name.empty())
        return false;
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '/' || c == ' ' || byte < 0x20 || byte == 0x7F)
            return false;
    }
    return true;
}

// NERR_Success when server names this computer.
DWORD server_name_status(LPCWSTR server)
{
    if (server == nullptr || server[0] == 0)
        return NERR_Success;
    std::string text;
    if (!wide_to_utf8(server, text))
        return NERR_InvalidComputer;
    std::string_view name(text);
    if (name.starts_with("\\\\"))
        name.remove_prefix(2);
    if (!computer_name_is_well_formed(name))
        return NERR_InvalidComputer;
    return is_this_computer(name) ? NERR_Success : ERROR_BAD_NETPATH;
}

// A member name of NetLocalGroupAddMembers, with "COMPUTER\" dropped when it
// names this computer; a member of another computer gets the empty name,
// which no account has.
std::string local_member_name(LPCWSTR wide)
{
    std::string text;
    if (wide == nullptr || !wide_to_utf8(wide, text))
        return {};
    std::string::size_type slash = text.rfind('\\');
    if (slash == std::string::npos)
        return text;
    std::string_view domain(text.data(), slash);
    if (!computer_name_is_well_formed(domain) || !is_this_computer(domain))
        return {};
    return text.substr(slash + 1);
}

// The narrow password in secret; false when it is no valid UTF-16 or longer
// than libxcrypt takes.
bool secret_from_wide(LPCWSTR wide, SecretText &secret)
{
    secret.bytes.assign(PASSWORD_BYTES_MAX + 1, '\0');
    return wide_to_utf8_into(wide, secret.bytes.data(), secret.bytes.size(), &secret.length);
}

// An optional text member; false when it is no valid UTF-16 or a value
// that no reply could carry as it is.
bool read_text_member(LPCWSTR wide, std::optional<std::string> &text)
{
    if (wide == nullptr) {
        text.reset();
        return true;
    }
    text.emplace();
    return wide_to_utf8(wide, *text) && value_is_storable(*text);
}

DWORD read_password_member(LPCWSTR wide, SecretText &secret)
{
    if (wide_text_units(wide) > ACCOUNT_TEXT_MAX || !secret_from_wide(wide, secret))
        return PARM_PASSWORD;
    return 0;
}

// 0, or the index of the first faulty member of info. The password is read
// when given; with_name also reads the name.
DWORD read_members(const USER_INFO_1 &info, bool with_name, UserRecord &user,
                   SecretText &password)
{
    if (with_name && (info.usri1_name == nullptr || !wide_to_utf8(info.usri1_name, user.name) ||
                      !name_is_addressable(user.name)))
        return PARM_NAME;
    if (info.usri1_password != nullptr && read_password_member(info.usri1_password, password) != 0)
        return PARM_PASSWORD;
    user.priv = info.usri1_priv;
    user.flags = info.usri1_flags;
    if (info.usri1_priv > USER_PRIV_ADMIN)
        return PARM_PRIV;
    if (!read_text_member(info.usri1_home_dir, user.home_dir))
        return PARM_HOME_DIR;
    if (!read_text_member(info.usri1_comment, user.comment))
        return PARM_COMMENT;
    if (!user_flags_are_valid(info.usri1_flags))
        return PARM_FLAGS;
    if (!read_text_member(info.usri1_script_path, user.script_path))
        return PARM_SCRIPT_PATH;
    return 0;
}

DWORD invalid_parameter(LPDWORD parm_err, DWORD index)
{
    if (parm_err != nullptr)
        *parm_err = index;
    return ERROR_INVALID_PARAMETER;
}

// The policy's length check and the hash, into user.password_hash. The
// empty password is too short whatever the policy: no logon takes it.
DWORD hash_new_password(LPCWSTR wide, const SecretText &password, UserRecord &user)
{
    std::int64_t minimum = 0;
    if (read_policy(POLICY_MIN_PASSWORD_LENGTH, minimum) != NERR_Success)
        return NERR_InternalError;
    auto units = static_cast<std::int64_t>(wide_text_units(wide));
    if (units == 0 || units < minimum)
        return NERR_PasswordTooShort;
    if (hash_password(password.text(), user.password_hash) != 0) {
        log_error("password hashing failed: %s", std::strerror(errno));
        return NERR_InternalError;
    }
    user.password_set = account_clock();
    return NERR_Success;
}

std::size_t wide_bytes(std::string_view text)
{
    return (wide_units_of(text) + 1) * sizeof(WCHAR);
}

std::size_t optional_wide_bytes(const std::optional<std::string> &text)
{
    return text ? wide_bytes(*text) : 0;
}

std::size_t entry_bytes(const UserRecord &user)
{
    return sizeof(USER_INFO_1) + wide_bytes(user.name) + optional_wide_bytes(user.home_dir) +
           optional_wide_bytes(user.comment) + optional_wide_bytes(user.script_path);
}

LPWSTR place_text(std::string_view text, WCHAR *&cursor)
{
    LPWSTR start = cursor;
    cursor = utf8_to_wide(text, cursor);
    *cursor++ = 0;
    return start;
}

LPWSTR place_optional_text(const std::optional<std::string> &text, WCHAR *&cursor)
{
    return text ? place_text(*text, cursor) : nullptr;
}

DWORD password_age(const UserRecord &user, std::int64_t now)
{
    std::int64_t age = now - user.password_set;
    if (age < 0)
        return 0;
    return age > UINT32_MAX ? UINT32_MAX : static_cast<DWORD>(age);
}

// One allocation: the records, then their texts.
DWORD pack_users(const std::vector<UserRecord> &users, LPBYTE *bufptr)
{
    std::size_t total = 0;
    for (const UserRecord &user : users)
        total += entry_bytes(user);
    ServiceBuffer buffer(std::malloc(total));
    if (!buffer)
        return ERROR_NOT_ENOUGH_MEMORY;
    auto *infos = static_cast<USER_INFO_1 *>(buffer.get());
    auto *cursor = reinterpret_cast<WCHAR *>(infos + users.size());
    std::int64_t now = account_clock();
    for (std::size_t i = 0; i < users.size(); ++i) {
        const UserRecord &user = users[i];
        auto *info = new (&infos[i]) USER_INFO_1{};
        info->usri1_name = place_text(user.name, cursor);
        info->usri1_password = nullptr;
        info->usri1_password_age = password_age(user, now);
        info->usri1_priv = user.priv;
        info->usri1_home_dir = place_optional_text(user.home_dir, cursor);
        info->usri1_comment = place_optional_text(user.comment, cursor);
        info->usri1_flags = user.flags;
        info->usri1_script_path = place_optional_text(user.script_path, cursor);
    }
    *bufptr = static_cast<LPBYTE>(buffer.release());
    return NERR_Success;
}

// The users' name as stored text; false when it cannot be any account's.
bool account_name(LPCWSTR wide, std::string &name)
{
    return wide_to_utf8(wide, name) && name_is_valid(name);
}

// Counts the attempt before any hashing while the lockout policy is on;
// with it off nothing is written, and only a lock left from before refuses.
DWORD count_attempt(bool exists, const UserRecord &user, LogonAttempt &attempt)
{
    LockoutPolicy policy;
    DWORD status = read_lockout_policy(policy);
    if (status != NERR_Success)
        return status;
    std::int64_t now = account_clock();
    if (policy.threshold > 0)
        return count_logon_attempt(exists ? user.id : 0, policy, now, attempt);
    attempt.admitted = !exists || user.locked_until <= now;
    return NERR_Success;
}

// Why the stored hash is not to be consulted, or nullptr when it is.
const char *reason_not_to_verify(bool exists, const UserRecord &user, const SecretText &secret,
                                 const LogonAttempt &attempt)
{
    if (!exists)
        return "no such account";
    if (!attempt.admitted)
        return "account locked";
    if (secret.length == 0)
        return "empty password";
    if ((user.flags & UF_ACCOUNTDISABLE) != 0)
        return "account disabled";
    return nullptr;
}

// A failed upgrade leaves the old hash, which still verifies; it is traced.
// A match of a method that reads only part of the password proves nothing
// about the rest, so it is never stored as the whole.
void upgrade_weak_hash(const UserRecord &user, const SecretText &secret)
{
    const char *stored = user.password_hash.c_str();
    if (!hash_is_weak(stored) || hash_truncates_password(stored, secret.length))
        return;
    std::string stronger;
    if (hash_password(secret.text(), stronger) != 0) {
        log_error("password hashing failed: %s", std::strerror(errno));
        return;
    }
    upgrade_password_hash(user.id, user.password_hash, stronger);
}

BOOL logon_failure(DWORD code)
{
    SetLastError(code);
    return FALSE;
}

}  // namespace

NET_API_STATUS NetUserGetInfo(LPCWSTR servername, LPCWSTR username, DWORD level, LPBYTE *bufptr)
{
    if (bufptr == nullptr)
        return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    DWORD status = server_name_status(servername);
    if (status != NERR_Success)
        return status;
    if (level != USER_LEVEL)
        return ERROR_INVALID_LEVEL;
    if (username == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::string name;
    if (!account_name(username, name))
        return NERR_UserNotFound;
    std::vector<UserRecord> users(1);
    status = find_user(name, users[0]);
    if (status != NERR_Success)
        return status;
    return pack_users(users, bufptr);
}

NET_API_STATUS NetUserEnum(LPCWSTR servername, DWORD level, DWORD filter, LPBYTE *bufptr,
                           DWORD prefmaxlen, LPDWORD entriesread, LPDWORD totalentries,
                           LPDWORD resume_handle)
{
    if (bufptr == nullptr || entriesread == nullptr || totalentries == nullptr)
        return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    *entriesread = 0;
    *totalentries = 0;
    DWORD status = server_name_status(servername);
    if (status != NERR_Success)
        return status;
    if (level != USER_LEVEL)
        return ERROR_INVALID_LEVEL;
    if (filter != 0 && filter != FILTER_NORMAL_ACCOUNT)
        return ERROR_INVALID_PARAMETER;

    std::int64_t after_id = resume_handle != nullptr ? *resume_handle : 0;
    std::size_t used = 0;
    auto take = [&used, prefmaxlen](const UserRecord &user) {
        std::size_t size = entry_bytes(user);
        if (used > 0 && prefmaxlen != MAX_PREFERRED_LENGTH && used + size > prefmaxlen)
            return false;
        used += size;
        return true;
    };
    UserPage page;
    status = list_users(after_id, take, page);
    if (status != NERR_Success)
        return status;
    if (!page.users.empty() && (status = pack_users(page.users, bufptr)) != NERR_Success)
        return status;
    *entriesread = static_cast<DWORD>(page.users.size());
    *totalentries = static_cast<DWORD>(page.remaining);
    if (resume_handle != nullptr)
        *resume_handle = page.more ? static_cast<DWORD>(page.users.back().id) : 0;
    return page.more ? ERROR_MORE_DATA : NERR_Success;
}

NET_API_STATUS NetUserAdd(LPCWSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err)
{
    DWORD status = server_name_status(servername);
    if (status != NERR_Success)
        return status;
    if (level != USER_LEVEL)
        return ERROR_INVALID_LEVEL;
    if (buf == nullptr)
        return ERROR_INVALID_PARAMETER;
    const auto &info = *reinterpret_cast<const USER_INFO_1 *>(buf);
    UserRecord user;
    SecretText password;
    DWORD fault = read_members(info, true, user, password);
    if (fault != 0)
        return invalid_parameter(parm_err, fault);
    // Without a password the account has none that verifies until one is set.
    if (info.usri1_password == nullptr) {
        user.password_hash = std::string(NO_PASSWORD_HASH);
        user.password_set = account_clock();
    } else if ((status = hash_new_password(info.usri1_password, password, user)) !=
               NERR_Success) {
        return status;
    }
    return insert_user(user);
}

NET_API_STATUS NetUserSetInfo(LPCWSTR servername, LPCWSTR username, DWORD level, LPBYTE buf,
                              LPDWORD parm_err)
{
    DWORD status = server_name_status(servername);
    if (status != NERR_Success)
        return status;
    if (level != USER_LEVEL)
        return ERROR_INVALID_LEVEL;
    if (buf == nullptr || username == nullptr)
        return ERROR_INVALID_PARAMETER;
    const auto &info = *reinterpret_cast<const USER_INFO_1 *>(buf);
    UserRecord values;
    SecretText password;
    DWORD fault = read_members(info, false, values, password);
    if (fault != 0)
        return invalid_parameter(parm_err, fault);
    std::string name;
    if (!account_name(username, name))
        return NERR_UserNotFound;
    bool new_password = info.usri1_password != nullptr;
    if (new_password && (status = hash_new_password(info.usri1_password, password, values)) !=
                            NERR_Success)
        return status;
    return update_user(name, values, new_password);
}

NET_API_STATUS NetUserDel(LPCWSTR servername, LPCWSTR username)
{
    DWORD status = server_name_status(servername);
    if (status != NERR_Success)
        return status;
    if (username == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::string name;
    if (!account_name(username, name))
        return NERR_UserNotFound;
    return delete_user(name);
}

NET_API_STATUS NetLocalGroupAddMembers(LPCWSTR servername, LPCWSTR groupname, DWORD level,
                                       LPBYTE buf, DWORD totalentries)
{
    DWORD status = server_name_status(servername);
    if (status != NERR_Success)
        return status;
    if (level != MEMBERS_LEVEL)
        return ERROR_INVALID_LEVEL;
    if (groupname == nullptr || (buf == nullptr && totalentries > 0))
        return ERROR_INVALID_PARAMETER;
    std::string group;
    if (!account_name(groupname, group))
        return NERR_GroupNotFound;
    const auto *entries = reinterpret_cast<const LOCALGROUP_MEMBERS_INFO_3 *>(buf);
    std::vector<std::string> members;
    members.reserve(totalentries);
    for (DWORD i = 0; i < totalentries; ++i)
        members.push_back(local_member_name(entries[i].lgrmi3_domainandname));
    return add_group_members(group, members);
}

// Without the bracket (no database to open, or the write lock not had)
// each call goes on to answer for itself.
void begin_account_change()
{
    db_begin_change();
}

NET_API_STATUS end_account_change()
{
    return db_end_change();
}

NET_API_STATUS NetApiBufferFree(void *buffer)
{
    std::free(buffer);
    return NERR_Success;
}

BOOL LogonUserW(LPCWSTR username, LPCWSTR domain, LPCWSTR password, DWORD logon_type,
                DWORD logon_provider, PHANDLE token)
{
    if (token != nullptr)
        *token = nullptr;
    if (token == nullptr || logon_type != LOGON32_LOGON_INTERACTIVE ||
        logon_provider != LOGON32_PROVIDER_DEFAULT)
        return logon_failure(ERROR_INVALID_PARAMETER);
    if (server_name_status(domain) != NERR_Success)
        return logon_failure(ERROR_NO_SUCH_DOMAIN);
    // Refused before any hashing: no account can have such a password.
    SecretText secret;
    if (!secret_from_wide(password, secret))
        return logon_failure(ERROR_LOGON_FAILURE);

    std::string name;
    UserRecord user;
    DWORD found = username != nullptr && account_name(username, name) ? find_user(name, user)
                                                                        : NERR_UserNotFound;
    if (found != NERR_Success && found != NERR_UserNotFound)
        return logon_failure(found);
    bool exists = found == NERR_Success;
    LogonAttempt attempt;
    if (count_attempt(exists, user, attempt) != NERR_Success) {
        // Fail closed: an attempt that is not counted is not made.
        verify_dummy(secret.text());
        log_error("logon of %s refused: the attempt could not be recorded", name.c_str());
        return logon_failure(ERROR_LOGON_FAILURE);
    }
    // Every refusal costs one verification and answers alike; only the
    // trace log tells why.
    const char *reason = reason_not_to_verify(exists, user, secret, attempt);
    bool right = false;
    if (reason != nullptr)
        verify_dummy(secret.text());
    else if (!(right = verify_password(secret.text(), user.password_hash.c_str())))
        reason = "wrong password";
    if (!right) {
        log_info("logon of %s refused: %s", name.c_str(), reason);
        return logon_failure(ERROR_LOGON_FAILURE);
    }
    if ((attempt.counted || user.failed_logons > 0 || user.locked_until != 0) &&
        clear_failed_logons(user.id) != NERR_Success)
        log_error("logon of %s: its failed logons could not be cleared", name.c_str());
    upgrade_weak_hash(user, secret);

    auto issued = std::unique_ptr<LogonToken>(new (std::nothrow) LogonToken{user.id});
    if (!issued)
        return logon_failure(ERROR_NOT_ENOUGH_MEMORY);
    *token = issued.get();
    live_tokens.push_back(std::move(issued));
    return TRUE;
}

BOOL CloseHandle(HANDLE handle)
{
    for (auto it = live_tokens.begin(); it != live_tokens.end(); ++it) {
        if (it->get() == handle) {
            live_tokens.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
