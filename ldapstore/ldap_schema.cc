#include "ldapstore/ldap_schema.h"

namespace {

const char *const RFC2307_ACCOUNT_CLASSES[] = {"top", "inetOrgPerson", "lodgateAccount",
                                               nullptr};
const char *const AD_ACCOUNT_CLASSES[] = {"top", "person", "organizationalPerson", "user",
                                          nullptr};

const LdapSchema SCHEMAS[] = {
    {"rfc2307", "inetOrgPerson", RFC2307_ACCOUNT_CLASSES, "lodgateAccount", "uid", "uid",
     "userPassword", "homeDirectory", "description", "lodgateScriptPath",
     "lodgateAccountFlags", "lodgateEmptyMember", "posixGroup", "cn", "memberUid", false,
     "pwdAccountLockedTime", "pwdChangedTime", true},
    {"ad", "user", AD_ACCOUNT_CLASSES, nullptr, "sAMAccountName", "cn", "unicodePwd",
     "homeDirectory", "description", "scriptPath", "userAccountControl", nullptr, "group",
     "cn", "member", true, "lockoutTime", "pwdLastSet", false},
};

}  // namespace

const LdapSchema *find_ldap_schema(std::string_view name)
{
    for (const LdapSchema &schema : SCHEMAS)
        if (name == schema.name)
            return &schema;
    return nullptr;
}
