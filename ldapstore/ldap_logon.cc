// Logons: the account's DN found with the service identity, then a bind
// as that DN on a connection of its own. Lockout is the directory's.
#include <ldap.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "hashing/password_hash.h"
#include "ldapstore/ldap_connection.h"
#include "ldapstore/ldap_filter.h"
#include "ldapstore/ldap_refusal_times.h"
#include "ldapstore/ldap_store_state.h"

namespace {

struct BindAnswer {
    int result = LDAP_OTHER;
    bool locked = false;  // by the password policy control
    std::string diagnostic;
};

void read_bind_answer(LDAP *ld, LDAPMessage *reply, BindAnswer &answer)
{
    char *diagnostic = nullptr;
    LDAPControl **controls = nullptr;
    int code = LDAP_OTHER;
    if (ldap_parse_result(ld, reply, &code, nullptr, &diagnostic, nullptr, &controls, 1) !=
        LDAP_SUCCESS)
        return;
    answer.result = code;
    answer.diagnostic = diagnostic != nullptr ? diagnostic : "";
    ldap_memfree(diagnostic);
    LDAPControl *policy = ldap_control_find(LDAP_CONTROL_PASSWORDPOLICYRESPONSE, controls, nullptr);
    LDAPPasswordPolicyError error = PP_noError;
    if (policy != nullptr &&
        ldap_parse_passwordpolicy_control(ld, policy, nullptr, nullptr, &error) == LDAP_SUCCESS)
        answer.locked = error == PP_accountLocked;
    ldap_controls_free(controls);
}

// Binds as dn with the password control asked for, waiting the timeout.
void bind_as(LDAP *ld, const std::string &dn, const char *password, BindAnswer &answer)
{
    LDAPControl *request = nullptr;
    if (ldap_create_passwordpolicy_control(ld, &request) != LDAP_SUCCESS)
        return;
    std::unique_ptr<LDAPControl, void (*)(LDAPControl *)> owner(request, ldap_control_free);
    LDAPControl *controls[] = {request, nullptr};
    berval credentials{static_cast<ber_len_t>(std::strlen(password)), const_cast<char *>(password)};
    int id = 0;
    answer.result = ldap_sasl_bind(ld, dn.c_str(), LDAP_SASL_SIMPLE, &credentials, controls,
                                   nullptr, &id);
    if (answer.result != LDAP_SUCCESS)
        return;
    struct timeval limit {directory_timeout_seconds(), 0};
    LDAPMessage *reply = nullptr;
    int got = ldap_result(ld, id, LDAP_MSG_ALL, &limit, &reply);
    if (got == 0)
        answer.result = LDAP_TIMEOUT;
    else if (got < 0)
        ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &answer.result);
    else
        read_bind_answer(ld, reply, answer);
}

LogonVerdict store_error(DWORD status, DWORD &error)
{
    error = status == ERROR_BAD_NETPATH ? ERROR_NO_LOGON_SERVERS : status;
    return LogonVerdict::STORE_ERROR;
}

LogonVerdict refused(const BindAnswer &answer, const LdapEntry &entry)
{
    if (answer.locked)
        return LogonVerdict::LOCKED;
    if (!schema().crypt_passwords)
        return ad_bind_verdict(answer.diagnostic);
    const std::string *lock = entry.first(schema().lock_time);
    return lock != nullptr ? LogonVerdict::LOCKED : LogonVerdict::WRONG;
}

using logon_clock = std::chrono::steady_clock;

std::chrono::microseconds operation_limit()
{
    return std::chrono::seconds(directory_timeout_seconds());
}

std::chrono::microseconds since(logon_clock::time_point found)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(logon_clock::now() - found);
}

// A refusal that is no wrong password waits, from the search's answer on,
// as long as a wrong password's bind took lately (ldap_refusal_times): the
// server's hash and its record of the failure, which it skips for these.
// Before any wrong password is known, the hash work is done here instead.
LogonVerdict padded(LogonVerdict verdict, const char *password, logon_clock::time_point found)
{
    std::chrono::microseconds target{};
    if (!pick_refusal_time(operation_limit(), target)) {
        verify_dummy(password);
        return verdict;
    }
    std::chrono::microseconds took = since(found);
    if (took < target)
        std::this_thread::sleep_for(target - took);
    return verdict;
}

// An unknown name is bound as a server would see a known one: the same
// connection and bind, refused.
LogonVerdict unknown(std::string_view name, const char *password, logon_clock::time_point found)
{
    LdapLink link;
    if (directory_connect_link(link, false, directory_service_index()) == NERR_Success) {
        BindAnswer answer;
        bind_as(link.ld, std::string(schema().rdn) + "=" + escape_dn_value(name) + "," +
                             ldap_store.settings.user_base,
                password, answer);
    }
    return padded(LogonVerdict::UNKNOWN, password, found);
}

// A disabled account is refused before its password goes to the server.
bool entry_disabled(const LdapEntry &entry)
{
    const std::string *flags = entry.first(schema().flags);
    return flags != nullptr && (std::strtoul(flags->c_str(), nullptr, 10) & UF_ACCOUNTDISABLE) != 0;
}

}  // namespace

LogonVerdict ldap_store_verify_logon(std::string_view name, const char *password,
                                     StoreAccount &account, DWORD &error)
{
    error = NERR_Success;
    LdapEntry entry;
    DWORD status = find_account_entry(name, entry, false);
    logon_clock::time_point found = logon_clock::now();
    // Some servers take a bind with no password for an anonymous one.
    if (password == nullptr || *password == '\0')
        return padded(LogonVerdict::WRONG, "", found);
    if (status == NERR_UserNotFound)
        return unknown(name, password, found);
    if (status != NERR_Success)
        return store_error(status, error);
    if (entry_disabled(entry))
        return padded(LogonVerdict::DISABLED, password, found);
    LdapLink link;
    status = directory_connect_link(link, false, directory_service_index());
    if (status != NERR_Success)
        return store_error(status, error);
    BindAnswer answer;
    bind_as(link.ld, entry.dn, password, answer);
    if (answer.result == LDAP_INVALID_CREDENTIALS) {
        LogonVerdict verdict = refused(answer, entry);
        if (verdict != LogonVerdict::WRONG)
            return padded(verdict, password, found);
        note_refusal_time(since(found), operation_limit());
        return verdict;
    }
    if (answer.result != LDAP_SUCCESS)
        return store_error(directory_unreachable(answer.result)
                               ? ERROR_BAD_NETPATH
                               : directory_status(answer.result, LdapTarget::ACCOUNT,
                                                  link.server.c_str(), answer.diagnostic.c_str()),
                           error);
    status = read_account_entry(entry, account);
    if (status != NERR_Success)
        return store_error(status, error);
    return LogonVerdict::RIGHT;
}

DWORD ldap_store_unlock_account(std::string_view name)
{
    LdapEntry entry;
    DWORD status = find_account_entry(name, entry, false);
    if (status != NERR_Success)
        return status;
    std::vector<std::string> cleared;
    if (!schema().crypt_passwords)
        cleared.push_back("0");
    std::vector<LdapChange> changes = {{LDAP_MOD_REPLACE, schema().lock_time, cleared}};
    if (entry.first(schema().lock_time) == nullptr)
        return NERR_Success;
    return directory_code(directory_modify_entry(entry.dn, changes), LdapTarget::ACCOUNT);
}
