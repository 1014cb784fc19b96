// The password and lockout policy: the attributes of one entry (OpenLDAP's
// ppolicy default entry, or AD's domain object).
#include <ldap.h>

#include <cstdlib>

#include "ldapstore/ldap_store_state.h"
#include "log/trace_log.h"

namespace {

struct PolicyRow {
    PolicyKey key;
    const char *ppolicy;
    const char *ad;
    // AD keeps intervals as negative counts of 100 ns.
    std::int64_t ad_scale;
};

const PolicyRow POLICY[] = {
    {PolicyKey::MIN_PASSWORD_LENGTH, "pwdMinLength", "minPwdLength", 1},
    {PolicyKey::LOCKOUT_THRESHOLD, "pwdMaxFailure", "lockoutThreshold", 1},
    {PolicyKey::LOCKOUT_WINDOW, "pwdFailureCountInterval", "lockOutObservationWindow",
     -10000000},
    {PolicyKey::LOCKOUT_DURATION, "pwdLockoutDuration", "lockoutDuration", -10000000},
};

const PolicyRow &row_of(PolicyKey key)
{
    for (const PolicyRow &row : POLICY)
        if (row.key == key)
            return row;
    return POLICY[0];
}

bool is_ad()
{
    return !schema().crypt_passwords;
}

}  // namespace

DWORD ldap_store_read_policy(PolicyKey key, std::int64_t &value)
{
    value = 0;
    const std::string &dn = ldap_store.settings.policy_dn;
    if (dn.empty())
        return NERR_Success;
    if (key == PolicyKey::MIN_PASSWORD_LENGTH)
        ldap_store.min_password_length.reset();
    const PolicyRow &row = row_of(key);
    const char *attribute = is_ad() ? row.ad : row.ppolicy;
    std::vector<LdapEntry> found;
    int result =
        directory_search_entries(dn, LDAP_SCOPE_BASE, "(objectClass=*)", {attribute}, found);
    if (result != LDAP_SUCCESS || found.empty())
        return directory_code(result == LDAP_SUCCESS ? LDAP_NO_SUCH_OBJECT : result,
                              LdapTarget::BASE);
    if (const std::string *text = found.front().first(attribute))
        value = std::atoll(text->c_str()) / (is_ad() ? row.ad_scale : 1);
    if (key == PolicyKey::MIN_PASSWORD_LENGTH)
        ldap_store.min_password_length = value;
    return NERR_Success;
}

DWORD policy_minimum_length(std::int64_t &value)
{
    if (ldap_store.min_password_length) {
        value = *ldap_store.min_password_length;
        return NERR_Success;
    }
    return ldap_store_read_policy(PolicyKey::MIN_PASSWORD_LENGTH, value);
}

DWORD ldap_store_write_policy(PolicyKey key, std::int64_t value)
{
    const std::string &dn = ldap_store.settings.policy_dn;
    if (dn.empty()) {
        log_error("directory: no policy entry is set");
        return NERR_InternalError;
    }
    if (value < 0)
        return ERROR_INVALID_PARAMETER;
    if (key == PolicyKey::MIN_PASSWORD_LENGTH)
        ldap_store.min_password_length.reset();
    const PolicyRow &row = row_of(key);
    std::vector<LdapChange> changes;
    if (is_ad()) {
        changes.push_back({LDAP_MOD_REPLACE, row.ad, {std::to_string(value * row.ad_scale)}});
    } else {
        changes.push_back({LDAP_MOD_REPLACE, row.ppolicy, {std::to_string(value)}});
        if (key == PolicyKey::LOCKOUT_THRESHOLD)
            changes.push_back({LDAP_MOD_REPLACE, "pwdLockout", {value > 0 ? "TRUE" : "FALSE"}});
    }
    return directory_code(directory_modify_entry(dn, changes), LdapTarget::BASE);
}
