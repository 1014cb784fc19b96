// Searches and changes on the service connection, which is made on first
// use and made again on the next server when one stops answering; and the
// undo steps that take a change back.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ldapstore/ldap_result.h"

typedef struct ldap LDAP;

// One entry: its DN and its values by lower-case attribute name.
struct LdapEntry {
    std::string dn;
    std::map<std::string, std::vector<std::string>> values;

    const std::vector<std::string> *find(const char *attribute) const;
    // The first value, or nullptr.
    const std::string *first(const char *attribute) const;
};

// One modification: op is LDAP_MOD_ADD, LDAP_MOD_DELETE or LDAP_MOD_REPLACE
// (a replace with no values removes the attribute).
struct LdapChange {
    int op;
    std::string attribute;
    std::vector<std::string> values;
};

// A step that takes back one write: remove an entry, add it again, or
// modify it back.
struct UndoStep {
    enum Kind { REMOVE, ADD, MODIFY } kind;
    std::string dn;
    std::vector<LdapChange> changes;
};
using UndoLog = std::vector<UndoStep>;

// An LDAP_* result; entries gets every match, read in pages so that no
// server's size limit cuts the list. A scope of LDAP_SCOPE_BASE on a
// missing entry answers LDAP_NO_SUCH_OBJECT.
int ldap_search_entries(const std::string &base, int scope, const std::string &filter,
                        const std::vector<const char *> &attributes,
                        std::vector<LdapEntry> &entries);
// Each value of attribute in the entries that match, handed to take as it
// is read, so that an entry of many values is never copied whole; restart
// runs before the first (again when the search moves to the next server).
int ldap_search_values(const std::string &base, int scope, const std::string &filter,
                       const char *attribute, const std::function<void()> &restart,
                       const std::function<void(std::string_view)> &take);
// Several searches of a few entries each, sent at once and answered in
// turn: found[i] gets the entries of filters[i].
int ldap_search_each(const std::string &base, int scope, const std::vector<std::string> &filters,
                     const std::vector<const char *> &attributes,
                     std::vector<std::vector<LdapEntry>> &found);
// The entries that match when there are at most most of them; otherwise
// LDAP_SIZELIMIT_EXCEEDED, with some of them.
int ldap_search_few(const std::string &base, int scope, const std::string &filter,
                    const std::vector<const char *> &attributes, int most,
                    std::vector<LdapEntry> &entries);
// One page of a paged search on ld, a connection of the caller's (a
// server's paging cookie belongs to the connection it was given on):
// entries gets the page's entries added, cookie the server's place after
// them, empty after the last page.
int ldap_search_page(LDAP *ld, const std::string &base, int scope, const std::string &filter,
                     const std::vector<const char *> &attributes, std::string &cookie,
                     std::vector<LdapEntry> &entries);
int ldap_add_entry(const std::string &dn, const std::vector<LdapChange> &attributes);
int ldap_modify_entry(const std::string &dn, const std::vector<LdapChange> &changes);
int ldap_delete_entry(const std::string &dn);

// The result as the service's code (ldap_status with the server and the
// directory's last message).
DWORD ldap_code(int result, LdapTarget target);

// Runs the steps last first; each failure is logged and the rest still run.
void run_undo(const UndoLog &undo);

// The service connection's server, for reports; empty before it is made.
const std::string &ldap_service_server();
// The index of that server among the URIs.
std::size_t ldap_service_index();
// Drops the service connection.
void ldap_disconnect();
