// Logons: the account's DN found with the service identity, then a bind
// as that DN on a connection of its own. Lockout is the directory's.
#include <ldap.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "hashing/password_hash.h"
#include "ldapstore/ldap_connection.h"
#include "ldapstore/ldap_filter.h"
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

// How long the refusals of a known name's wrong password took lately, search
// to answer. The server hashes more slowly than this process (no huge
// pages) and writes its failure record, so an unknown name waits out the
// rest of their median as well: a median, so that one slow refusal does
// not show. A process that has seen no refusal yet cannot know it.
constexpr std::size_t REFUSALS_KEPT = 15;
std::array<logon_clock::duration, REFUSALS_KEPT> refusals{};
std::size_t refusals_seen = 0;

void note_refusal(logon_clock::time_point started)
{
    refusals[refusals_seen++ % REFUSALS_KEPT] = logon_clock::now() - started;
}

logon_clock::duration refusal_time()
{
    std::size_t count = std::min(refusals_seen, REFUSALS_KEPT);
    if (count == 0)
        return {};
    std::array<logon_clock::duration, REFUSALS_KEPT> sorted = refusals;
    std::nth_element(sorted.begin(), sorted.begin() + count / 2, sorted.begin() + count);
    return sorted[count / 2];
}

// An unknown name costs what a wrong password costs: the hash work here in
// place of the server's, the same connection and bind, refused, and the
// wait for the rest.
LogonVerdict unknown(std::string_view name, const char *password, logon_clock::time_point started)
{
    verify_dummy(password);
    LdapLink link;
    if (directory_connect_link(link, false, directory_service_index()) == NERR_Success) {
        BindAnswer answer;
        bind_as(link.ld, std::string(schema().rdn) + "=" + escape_dn_value(name) + "," +
                             ldap_store.settings.user_base,
                password, answer);
    }
    logon_clock::duration took = logon_clock::now() - started;
    logon_clock::duration target = refusal_time();
    if (took < target)
        std::this_thread::sleep_for(target - took);
    return LogonVerdict::UNKNOWN;
}

}  // namespace

LogonVerdict ldap_store_verify_logon(std::string_view name, const char *password,
                                     StoreAccount &account, DWORD &error)
{
    error = NERR_Success;
    // Some servers take a bind with no password for an anonymous one.
    if (password == nullptr || *password == '\0') {
        verify_dummy("");
        return LogonVerdict::WRONG;
    }
    logon_clock::time_point started = logon_clock::now();
    LdapEntry entry;
    DWORD status = find_account_entry(name, entry, false);
    if (status == NERR_UserNotFound)
        return unknown(name, password, started);
    if (status != NERR_Success)
        return store_error(status, error);
    LdapLink link;
    status = directory_connect_link(link, false, directory_service_index());
    if (status != NERR_Success)
        return store_error(status, error);
    BindAnswer answer;
    bind_as(link.ld, entry.dn, password, answer);
    if (answer.result == LDAP_INVALID_CREDENTIALS) {
        note_refusal(started);
        return refused(answer, entry);
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
    if ((account.flags & UF_ACCOUNTDISABLE) != 0)
        return LogonVerdict::DISABLED;
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
