// The store's health as the administration tool shows it: the server
// reached, the bases present, the project's schema loaded.
#include <ldap.h>

#include "ldapstore/ldap_store_state.h"

namespace {

bool aux_class_loaded()
{
    std::vector<LdapEntry> subschema;
    int result = directory_search_entries("cn=Subschema", LDAP_SCOPE_BASE,
                                          "(objectClass=subschema)", {"objectClasses"}, subschema);
    std::string name = std::string("'") + schema().aux_class + "'";
    for (std::size_t i = 0; result == LDAP_SUCCESS && i < subschema.size(); ++i)
        if (const std::vector<std::string> *classes = subschema[i].find("objectClasses"))
            for (const std::string &text : *classes)
                if (text.find(name) != std::string::npos)
                    return true;
    return false;
}

}  // namespace

DWORD ldap_store_check_store(std::vector<StoreFact> &facts, std::string &fault)
{
    facts.clear();
    const std::string *bases[] = {&ldap_store.settings.user_base, &ldap_store.settings.group_base,
                                  &ldap_store.settings.policy_dn};
    DWORD status = NERR_Success;
    for (const std::string *base : bases) {
        if (base->empty())
            continue;
        std::vector<LdapEntry> found;
        int result =
            directory_search_entries(*base, LDAP_SCOPE_BASE, "(objectClass=*)", {"1.1"}, found);
        facts.push_back({result == LDAP_SUCCESS ? "present" : "missing", *base});
        if (result != LDAP_SUCCESS && status == NERR_Success) {
            status = directory_code(result, LdapTarget::BASE);
            fault = "missing entry " + *base;
        }
    }
    facts.insert(facts.begin(), StoreFact{"server", directory_service_server()});
    if (schema().aux_class != nullptr)
        facts.push_back({"schema", std::string(schema().aux_class) +
                                       (aux_class_loaded() ? " loaded" : " missing")});
    return status;
}
