// Users, local groups and the policy in the account database, as UTF-8.
// Each operation is one transaction and answers the service's result codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/account_backend.h"
#include "platform/parameter_number.h"
#include "platform/win_types.h"


// Policy names; a missing one reads as 0.
constexpr const char POLICY_MIN_PASSWORD_LENGTH[] = "min_password_length";
constexpr const char POLICY_LOCKOUT_THRESHOLD[] = "lockout_threshold";
constexpr const char POLICY_LOCKOUT_WINDOW[] = "lockout_window_seconds";
constexpr const char POLICY_LOCKOUT_DURATION[] = "lockout_duration_seconds";

// An account as the database holds it: what every store keeps, and the
// hash and the lock, which are this store's own.
struct UserRecord : StoreAccount {
    std::int64_t id = 0;  // creation order
    std::string password_hash;
    std::int64_t locked_until = 0;  // 0 when not locked
};

// Seconds since the epoch, as password_set and the lockout times count;
// defined alone in account_clock.cc, so that a test binary can define a
// clock of its own in its place.
std::int64_t account_clock();

struct LockoutPolicy {
    std::int64_t threshold = 0;  // 0: no lockout
    std::int64_t window = 0;     // seconds within which failures add up
    std::int64_t duration = 0;   // seconds a lock lasts
};
DWORD db_read_lockout_policy(LockoutPolicy &policy);

struct LogonAttempt {
    bool admitted = false;  // the password may be verified
    bool counted = false;   // a failure was counted that a right password clears
};

// Counts one attempt at the user's password before it is verified, in one
// write transaction that also reads the lock, so that parallel guesses each
// take one of the allowed attempts. An attempt is admitted while the
// failures before it are fewer than the threshold (failures older than the
// window, or from before a lock that has ended, count as none); the attempt
// that reaches the threshold locks the account until now + duration at once,
// and a right password then clears the count and the lock. A locked account
// is refused, at the same cost. user_id 0 stands for a name without account:
// admitted. An attempt that changes no account's row (a name without
// account, a refusal) is counted on a row of its own, so that it costs the
// same synced write.
DWORD db_count_logon_attempt(std::int64_t user_id, const LockoutPolicy &policy, std::int64_t now,
                          LogonAttempt &attempt);
// Replaces the user's hash old_hash (and only that) with new_hash.
DWORD db_upgrade_password_hash(std::int64_t user_id, const std::string &old_hash,
                            const std::string &new_hash);
// Forgets the failures and any lock.
DWORD db_clear_failed_logons(std::int64_t user_id);

// 0, or the index of the first faulty member among name (one a new account
// may take), password hash (one above the cost bound), priv, home
// directory, comment, flags and script path (values a reply can carry);
// user_fields_fault checks only priv and what follows.
DWORD user_record_fault(const UserRecord &user);
DWORD user_fields_fault(const UserRecord &user);
// NERR_UserNotFound when there is no user of that name in any case.
DWORD db_find_user(std::string_view name, UserRecord &user);

// Stores the records with their ready hashes (imports, benchmark set-up),
// all or none. NERR_GroupExists / NERR_UserExists for a taken name (also
// within the list), ERROR_INVALID_PARAMETER for a faulty record.
DWORD db_insert_users(const UserRecord *users, std::size_t count);
DWORD db_insert_user(const UserRecord &user);

// Sets priv, home directory, comment, flags and script path from values;
// with new_password also its password_hash and password_set, which clears
// the failed-logon count.
DWORD db_update_user(std::string_view name, const UserRecord &values, bool new_password);

// Removes the user and its memberships.
DWORD db_delete_user(std::string_view name);

// One batch of users in creation order after after_id. take is asked for
// each candidate and answers whether it still fits; the first that does not
// ends the batch with more set. remaining counts the users after after_id.
struct UserPage {
    std::vector<UserRecord> users;
    std::int64_t remaining = 0;
    bool more = false;
};
DWORD db_list_users(std::int64_t after_id, const std::function<bool(const UserRecord &)> &take,
                 UserPage &page);

// Adds every member or none: NERR_GroupNotFound, ERROR_NO_SUCH_MEMBER for a
// name that is no user, ERROR_INVALID_MEMBER for a group, ERROR_MEMBER_IN_ALIAS
// for one already in the group.
DWORD db_add_group_members(std::string_view group, const std::vector<std::string> &members);

DWORD db_read_policy(const char *name, std::int64_t &value);
DWORD db_write_policy(const char *name, std::int64_t value);
