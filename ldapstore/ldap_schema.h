// The attribute and object class names the directory store reads and
// writes, one table per directory flavour (ldap_schema: rfc2307 or ad).
#pragma once

#include <string_view>

struct LdapSchema {
    const char *name;             // the setting's word
    const char *account_class;    // what a search for accounts requires
    const char *const *new_account_classes;  // null-terminated, for adds
    const char *aux_class;        // added when a member needs it; may be null
    const char *naming;           // the account's name
    const char *rdn;              // the attribute of a new entry's RDN
    const char *password;
    const char *home_dir;
    const char *comment;
    const char *script_path;
    const char *flags;
    const char *empty_member;     // marks a member present with an empty text
    const char *group_class;
    const char *group_naming;
    const char *group_member;
    bool member_is_dn;            // group members are DNs, not names
    const char *lock_time;        // set while the account is locked
    const char *password_set;
    bool crypt_passwords;         // userPassword takes {CRYPT} hashes
};

// The table for name, or null for an unknown word.
const LdapSchema *find_ldap_schema(std::string_view name);
