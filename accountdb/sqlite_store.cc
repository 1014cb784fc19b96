#include "accountdb/sqlite_store.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include <sys/stat.h>

#include "accountdb/account_db.h"
#include "hashing/password_hash.h"
#include "accountdb/sqlite_admin.h"
#include "accountdb/user_records.h"
#include "log/trace_log.h"
#include "platform/utf_text.h"

namespace {

constexpr const char NO_PASSWORD_HASH[] = "!";

// The policy table's names of the policy keys, which stored files hold.
constexpr const char *POLICY_NAMES[] = {
    POLICY_MIN_PASSWORD_LENGTH,
    POLICY_LOCKOUT_THRESHOLD,
    POLICY_LOCKOUT_WINDOW,
    POLICY_LOCKOUT_DURATION,
};

const char *policy_name(PolicyKey key)
{
    return POLICY_NAMES[static_cast<int>(key)];
}

// The file is opened at its first use; a directory that is not there is
// told at once, since no command could ever use the file.
DWORD sqlite_store_open(const StoreSettings &settings, StoreSettingFault &fault)
{
    const std::string &path = settings.account_db;
    std::string::size_type slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct stat info {};
    int error = ::stat(directory.c_str(), &info) != 0 ? errno
                : !S_ISDIR(info.st_mode)              ? ENOTDIR
                                                      : 0;
    if (error != 0) {
        fault = StoreSettingFault{"Unusable", "account_db", path,
                                  directory + ": " + std::strerror(error)};
        return NERR_InternalError;
    }
    account_db_configure(path);
    return NERR_Success;
}

void sqlite_store_close()
{
    account_db_close();
}

DWORD sqlite_store_find_account(std::string_view name, StoreAccount &account)
{
    UserRecord user;
    DWORD status = db_find_user(name, user);
    if (status == NERR_Success)
        account = std::move(user);
    return status;
}

// The cursor is the id of the last account handed out, in creation order.
bool cursor_id(const std::string &cursor, std::int64_t &id)
{
    id = 0;
    if (cursor.empty())
        return true;
    auto [end, error] = std::from_chars(cursor.data(), cursor.data() + cursor.size(), id);
    return error == std::errc() && end == cursor.data() + cursor.size() && id >= 0;
}

// Every row whatever the name shape: a scan of the file takes well under a
// second for 100,000 accounts.
DWORD sqlite_store_list_accounts(const std::string &cursor, const NameShape &, StoreFits fits,
                                 void *context, StorePage &page)
{
    page = StorePage{};
    std::int64_t after_id = 0;
    if (!cursor_id(cursor, after_id))
        return ERROR_INVALID_PARAMETER;
    UserPage users;
    DWORD status = db_list_users(after_id, [fits, context](const UserRecord &user) {
        return fits(user, context);
    }, users);
    if (status != NERR_Success)
        return status;
    page.accounts.reserve(users.users.size());
    for (UserRecord &user : users.users)
        page.accounts.push_back(std::move(user));
    page.remaining = users.remaining;
    page.more = users.more;
    if (users.more && !users.users.empty())
        page.next = std::to_string(users.users.back().id);
    return NERR_Success;
}

DWORD invalid_parameter(DWORD *parm_err, DWORD member)
{
    if (parm_err != nullptr)
        *parm_err = member;
    return ERROR_INVALID_PARAMETER;
}

// The policy's length check, counted in the service's units. The empty
// password is too short whatever the policy: no logon takes it.
DWORD check_password_length(const char *text)
{
    std::int64_t minimum = 0;
    if (db_read_policy(POLICY_MIN_PASSWORD_LENGTH, minimum) != NERR_Success)
        return NERR_InternalError;
    auto units = static_cast<std::int64_t>(wide_units_of(text));
    return units == 0 || units < minimum ? NERR_PasswordTooShort : NERR_Success;
}

// The new hash (or the imported one), into user; neither leaves a value
// that no password matches, as shadow files mark it, until one is set.
DWORD hash_new_password(const StorePassword &password, UserRecord &user)
{
    DWORD status = NERR_Success;
    if (password.hash != nullptr) {
        user.password_hash = password.hash;
    } else if (password.text == nullptr) {
        user.password_hash = std::string(NO_PASSWORD_HASH);
    } else if ((status = check_password_length(password.text)) != NERR_Success) {
        return status;
    } else if (hash_password(password.text, user.password_hash) != 0) {
        log_error("password hashing failed: %s", std::strerror(errno));
        return NERR_InternalError;
    }
    user.password_set = account_clock();
    return NERR_Success;
}

DWORD sqlite_store_insert_account(const StoreAccount &account, const StorePassword &password,
                                  DWORD *parm_err)
{
    UserRecord user;
    static_cast<StoreAccount &>(user) = account;
    if (DWORD fault = user_record_fault(user); fault != 0)
        return invalid_parameter(parm_err, fault);
    DWORD status = hash_new_password(password, user);
    return status == NERR_Success ? db_insert_user(user) : status;
}

DWORD sqlite_store_update_account(std::string_view name, const StoreAccount &values,
                                  const StorePassword *password, DWORD *parm_err)
{
    UserRecord user;
    static_cast<StoreAccount &>(user) = values;
    if (DWORD fault = user_fields_fault(user); fault != 0)
        return invalid_parameter(parm_err, fault);
    if (password != nullptr) {
        DWORD status = hash_new_password(*password, user);
        if (status != NERR_Success)
            return status;
    }
    return db_update_user(name, user, password != nullptr);
}

DWORD sqlite_store_delete_account(std::string_view name)
{
    return db_delete_user(name);
}

DWORD sqlite_store_add_group_members(std::string_view group,
                                     const std::vector<std::string> &members)
{
    return db_add_group_members(group, members);
}

DWORD sqlite_store_begin_change()
{
    return db_begin_change();
}

DWORD sqlite_store_end_change(bool keep)
{
    return db_end_change(keep);
}

DWORD sqlite_store_read_policy(PolicyKey key, std::int64_t &value)
{
    return db_read_policy(policy_name(key), value);
}

DWORD sqlite_store_write_policy(PolicyKey key, std::int64_t value)
{
    return db_write_policy(policy_name(key), value);
}

// Counts the attempt before any hashing while the lockout policy is on;
// with it off nothing is written, and only a lock left from before refuses.
DWORD count_attempt(bool exists, const UserRecord &user, LogonAttempt &attempt)
{
    LockoutPolicy policy;
    DWORD status = db_read_lockout_policy(policy);
    if (status != NERR_Success)
        return status;
    std::int64_t now = account_clock();
    if (policy.threshold > 0)
        return db_count_logon_attempt(exists ? user.id : 0, policy, now, attempt);
    attempt.admitted = !exists || user.locked_until <= now;
    return NERR_Success;
}

// What a check refused before the stored hash is consulted comes to, or
// RIGHT when the hash is to be consulted.
LogonVerdict refusal(bool exists, const UserRecord &user, const char *password,
                     const LogonAttempt &attempt, const char *&reason)
{
    reason = nullptr;
    if (!exists)
        return reason = "no such account", LogonVerdict::UNKNOWN;
    if (!attempt.admitted)
        return reason = "account locked", LogonVerdict::LOCKED;
    if (password[0] == '\0')
        return reason = "empty password", LogonVerdict::WRONG;
    if ((user.flags & UF_ACCOUNTDISABLE) != 0)
        return reason = "account disabled", LogonVerdict::DISABLED;
    return LogonVerdict::RIGHT;
}

// A failed upgrade leaves the old hash, which still verifies; it is traced.
// A match of a method that reads only part of the password proves nothing
// about the rest, so it is never stored as the whole.
void upgrade_weak_hash(const UserRecord &user, const char *password)
{
    const char *stored = user.password_hash.c_str();
    if (!hash_is_weak(stored) || hash_truncates_password(stored, std::strlen(password)))
        return;
    std::string stronger;
    if (hash_password(password, stronger) != 0) {
        log_error("password hashing failed: %s", std::strerror(errno));
        return;
    }
    db_upgrade_password_hash(user.id, user.password_hash, stronger);
}

// Every refusal costs one verification and answers alike to the client;
// only the trace log tells why.
LogonVerdict sqlite_store_verify_logon(std::string_view name, const char *password,
                                       StoreAccount &account, DWORD &error)
{
    UserRecord user;
    DWORD found = name.empty() ? NERR_UserNotFound : db_find_user(name, user);
    if (found != NERR_Success && found != NERR_UserNotFound) {
        error = found;
        return LogonVerdict::STORE_ERROR;
    }
    bool exists = found == NERR_Success;
    std::string shown(name);
    LogonAttempt attempt;
    if (count_attempt(exists, user, attempt) != NERR_Success) {
        // Fail closed: an attempt that is not counted is not made.
        verify_dummy(password);
        log_error("logon of %s refused: the attempt could not be recorded", shown.c_str());
        return LogonVerdict::WRONG;
    }
    const char *reason = nullptr;
    LogonVerdict verdict = refusal(exists, user, password, attempt, reason);
    if (verdict != LogonVerdict::RIGHT)
        verify_dummy(password);
    else if (!verify_password(password, user.password_hash.c_str()))
        verdict = LogonVerdict::WRONG, reason = "wrong password";
    if (verdict != LogonVerdict::RIGHT) {
        log_info("logon of %s refused: %s", shown.c_str(), reason);
        return verdict;
    }
    if ((attempt.counted || user.failed_logons > 0 || user.locked_until != 0) &&
        db_clear_failed_logons(user.id) != NERR_Success)
        log_error("logon of %s: its failed logons could not be cleared", shown.c_str());
    upgrade_weak_hash(user, password);
    account = std::move(user);
    return LogonVerdict::RIGHT;
}

DWORD sqlite_store_import_accounts(const std::vector<StoreImport> &accounts)
{
    std::vector<UserRecord> users(accounts.size());
    std::int64_t now = account_clock();
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        static_cast<StoreAccount &>(users[i]) = accounts[i].account;
        users[i].password_hash = accounts[i].hash;
        users[i].password_set = now;
    }
    return db_insert_users(users.data(), users.size());
}

std::string sqlite_store_last_fault()
{
    return account_db_last_fault();
}

}  // namespace

const AccountBackend SQLITE_STORE = {
    .name = "sqlite",
    .open = sqlite_store_open,
    .close = sqlite_store_close,
    .find_account = sqlite_store_find_account,
    .list_accounts = sqlite_store_list_accounts,
    .insert_account = sqlite_store_insert_account,
    .update_account = sqlite_store_update_account,
    .delete_account = sqlite_store_delete_account,
    .add_group_members = sqlite_store_add_group_members,
    .begin_change = sqlite_store_begin_change,
    .end_change = sqlite_store_end_change,
    .read_policy = sqlite_store_read_policy,
    .write_policy = sqlite_store_write_policy,
    .verify_logon = sqlite_store_verify_logon,
    .list_groups = db_list_groups,
    .add_group = db_add_group,
    .delete_group = db_delete_group,
    .group_members = db_group_members,
    .remove_group_member = db_remove_group_member,
    .account_groups = db_account_groups,
    .unlock_account = db_unlock_user,
    .import_accounts = sqlite_store_import_accounts,
    .check_store = db_check,
    .last_fault = sqlite_store_last_fault,
};
