#include "ldapstore/ldap_operations.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <memory>

#include <ldap.h>

#include "ldapstore/ldap_connection.h"
#include "log/trace_log.h"

namespace {

LdapLink service;
std::string last_message;
DWORD connect_status = NERR_Success;

// Not an LDAP result: the connection could not be made, for the reason in
// connect_status (already logged where it was the configuration's fault).
constexpr int NOT_CONNECTED = -1000;
constexpr int PAGE_SIZE = 500;

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void remember_message(LDAP *ld)
{
    char *text = nullptr;
    ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &text);
    last_message = text != nullptr ? text : "";
    ldap_memfree(text);
}

int ensure_connected(std::size_t first)
{
    if (service.ld != nullptr)
        return LDAP_SUCCESS;
    connect_status = ldap_connect_link(service, true, first);
    return connect_status == NERR_Success ? LDAP_SUCCESS : NOT_CONNECTED;
}

// Runs op on the service connection; when its server has gone, once more
// on the next one that answers.
int perform(const std::function<int(LDAP *)> &op)
{
    int result = ensure_connected(0);
    if (result != LDAP_SUCCESS)
        return result;
    result = op(service.ld);
    if (ldap_unreachable(result))
        log_unreachable(service.server, result);
    remember_message(service.ld);
    if (!ldap_unreachable(result))
        return result;
    std::size_t next = service.index + 1;
    service.drop();
    if (next >= ldap_uri_count() || ensure_connected(next) != LDAP_SUCCESS)
        return result;
    result = op(service.ld);
    remember_message(service.ld);
    return result;
}

struct ModArray {
    std::vector<LDAPMod> mods;
    std::vector<std::vector<berval>> values;
    std::vector<std::vector<berval *>> pointers;
    std::vector<LDAPMod *> list;

    explicit ModArray(const std::vector<LdapChange> &changes);
    LDAPMod **get() { return list.data(); }
};

ModArray::ModArray(const std::vector<LdapChange> &changes)
    : mods(changes.size()), values(changes.size()), pointers(changes.size())
{
    for (std::size_t i = 0; i < changes.size(); ++i) {
        for (const std::string &value : changes[i].values)
            values[i].push_back(berval{static_cast<ber_len_t>(value.size()),
                                       const_cast<char *>(value.data())});
        for (berval &value : values[i])
            pointers[i].push_back(&value);
        pointers[i].push_back(nullptr);
        mods[i].mod_op = changes[i].op | LDAP_MOD_BVALUES;
        mods[i].mod_type = const_cast<char *>(changes[i].attribute.c_str());
        mods[i].mod_bvalues = pointers[i].data();
        list.push_back(&mods[i]);
    }
    list.push_back(nullptr);
}

void read_entry(LDAP *ld, LDAPMessage *message, LdapEntry &entry)
{
    char *dn = ldap_get_dn(ld, message);
    entry.dn = dn != nullptr ? dn : "";
    ldap_memfree(dn);
    BerElement *ber = nullptr;
    for (char *name = ldap_first_attribute(ld, message, &ber); name != nullptr;
         name = ldap_next_attribute(ld, message, ber)) {
        berval **values = ldap_get_values_len(ld, message, name);
        std::vector<std::string> &out = entry.values[lower(name)];
        for (int i = 0; values != nullptr && values[i] != nullptr; ++i)
            out.emplace_back(values[i]->bv_val, values[i]->bv_len);
        ldap_value_free_len(values);
        ldap_memfree(name);
    }
    ber_free(ber, 0);
}

struct MessageOwner {
    LDAPMessage *message = nullptr;
    ~MessageOwner() { ldap_msgfree(message); }
};

using EntryVisitor = std::function<void(LDAP *, LDAPMessage *)>;

// One page of a search, each entry handed to visit; cookie carries the
// server's position.
int search_page(LDAP *ld, const std::string &base, int scope, const std::string &filter,
                const std::vector<const char *> &attributes, berval &cookie, bool &more,
                const EntryVisitor &visit)
{
    LDAPControl *page = nullptr;
    int result = ldap_create_page_control(ld, PAGE_SIZE, &cookie, 0, &page);
    if (result != LDAP_SUCCESS)
        return result;
    std::unique_ptr<LDAPControl, void (*)(LDAPControl *)> page_owner(page, ldap_control_free);
    LDAPControl *controls[] = {page, nullptr};
    std::vector<const char *> names = attributes;
    names.push_back(nullptr);
    struct timeval limit {ldap_timeout_seconds(), 0};
    MessageOwner reply;
    result = ldap_search_ext_s(ld, base.c_str(), scope, filter.c_str(),
                               const_cast<char **>(names.data()), 0, controls, nullptr, &limit,
                               LDAP_NO_LIMIT, &reply.message);
    if (result != LDAP_SUCCESS)
        return result;
    for (LDAPMessage *m = ldap_first_entry(ld, reply.message); m != nullptr;
         m = ldap_next_entry(ld, m))
        visit(ld, m);
    LDAPControl **returned = nullptr;
    int code = LDAP_SUCCESS;
    result = ldap_parse_result(ld, reply.message, &code, nullptr, nullptr, nullptr, &returned, 0);
    ber_memfree(cookie.bv_val);
    cookie = berval{0, nullptr};
    LDAPControl *response = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, returned, nullptr);
    ber_int_t estimate = 0;
    if (response != nullptr)
        ldap_parse_pageresponse_control(ld, response, &estimate, &cookie);
    ldap_controls_free(returned);
    more = cookie.bv_len > 0;
    return result != LDAP_SUCCESS ? result : code;
}

}  // namespace

const std::vector<std::string> *LdapEntry::find(const char *attribute) const
{
    auto it = values.find(lower(attribute));
    return it == values.end() ? nullptr : &it->second;
}

const std::string *LdapEntry::first(const char *attribute) const
{
    const std::vector<std::string> *all = find(attribute);
    return all == nullptr || all->empty() ? nullptr : &all->front();
}

namespace {

// Every page of a search on the service connection.
int search_pages(const std::string &base, int scope, const std::string &filter,
                 const std::vector<const char *> &attributes, const std::function<void()> &restart,
                 const EntryVisitor &visit)
{
    return perform([&](LDAP *ld) {
        restart();
        berval cookie{0, nullptr};
        bool more = true;
        int result = LDAP_SUCCESS;
        while (more && result == LDAP_SUCCESS)
            result = search_page(ld, base, scope, filter, attributes, cookie, more, visit);
        ber_memfree(cookie.bv_val);
        return result;
    });
}

// Hands each value of attribute in entry to take, in place.
void each_value(LDAP *ld, LDAPMessage *entry, const char *attribute,
                const std::function<void(std::string_view)> &take)
{
    BerElement *ber = nullptr;
    berval dn{0, nullptr};
    if (ldap_get_dn_ber(ld, entry, &ber, &dn) != LDAP_SUCCESS) {
        ber_free(ber, 0);
        return;
    }
    berval name{0, nullptr};
    berval *values = nullptr;
    while (ldap_get_attribute_ber(ld, entry, ber, &name, &values) == LDAP_SUCCESS &&
           name.bv_val != nullptr) {
        bool wanted = lower(std::string(name.bv_val, name.bv_len)) == lower(attribute);
        for (std::size_t i = 0; wanted && values != nullptr && values[i].bv_val != nullptr; ++i)
            take(std::string_view(values[i].bv_val, values[i].bv_len));
        ldap_memfree(values);
        values = nullptr;
    }
    ber_free(ber, 0);
}

}  // namespace

int ldap_search_entries(const std::string &base, int scope, const std::string &filter,
                        const std::vector<const char *> &attributes,
                        std::vector<LdapEntry> &entries)
{
    return search_pages(base, scope, filter, attributes, [&] { entries.clear(); },
                        [&](LDAP *ld, LDAPMessage *m) {
                            entries.emplace_back();
                            read_entry(ld, m, entries.back());
                        });
}

int ldap_search_values(const std::string &base, int scope, const std::string &filter,
                       const char *attribute, const std::function<void()> &restart,
                       const std::function<void(std::string_view)> &take)
{
    return search_pages(base, scope, filter, {attribute}, restart,
                        [&](LDAP *ld, LDAPMessage *m) { each_value(ld, m, attribute, take); });
}

namespace {

// The entries of search id, waited for up to the timeout.
int collect(LDAP *ld, int id, std::vector<LdapEntry> &entries)
{
    struct timeval limit {ldap_timeout_seconds(), 0};
    MessageOwner reply;
    int got = ldap_result(ld, id, LDAP_MSG_ALL, &limit, &reply.message);
    if (got == 0)
        return LDAP_TIMEOUT;
    int code = LDAP_OTHER;
    if (got < 0) {
        ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
        return code;
    }
    for (LDAPMessage *m = ldap_first_entry(ld, reply.message); m != nullptr;
         m = ldap_next_entry(ld, m)) {
        entries.emplace_back();
        read_entry(ld, m, entries.back());
    }
    int parsed = ldap_parse_result(ld, reply.message, &code, nullptr, nullptr, nullptr, nullptr, 0);
    return parsed != LDAP_SUCCESS ? parsed : code;
}

}  // namespace

int ldap_search_each(const std::string &base, int scope, const std::vector<std::string> &filters,
                     const std::vector<const char *> &attributes,
                     std::vector<std::vector<LdapEntry>> &found)
{
    std::vector<const char *> names = attributes;
    names.push_back(nullptr);
    return perform([&](LDAP *ld) {
        found.assign(filters.size(), {});
        struct timeval limit {ldap_timeout_seconds(), 0};
        std::vector<int> ids;
        int result = LDAP_SUCCESS;
        for (std::size_t i = 0; i < filters.size() && result == LDAP_SUCCESS; ++i) {
            int id = 0;
            result = ldap_search_ext(ld, base.c_str(), scope, filters[i].c_str(),
                                     const_cast<char **>(names.data()), 0, nullptr, nullptr,
                                     &limit, LDAP_NO_LIMIT, &id);
            if (result == LDAP_SUCCESS)
                ids.push_back(id);
        }
        std::size_t read = 0;
        for (; read < ids.size() && result == LDAP_SUCCESS; ++read)
            result = collect(ld, ids[read], found[read]);
        for (std::size_t i = read; i < ids.size(); ++i)
            ldap_abandon_ext(ld, ids[i], nullptr, nullptr);
        return result;
    });
}

int ldap_search_few(const std::string &base, int scope, const std::string &filter,
                    const std::vector<const char *> &attributes, int most,
                    std::vector<LdapEntry> &entries)
{
    std::vector<const char *> names = attributes;
    names.push_back(nullptr);
    return perform([&](LDAP *ld) {
        entries.clear();
        struct timeval limit {ldap_timeout_seconds(), 0};
        MessageOwner reply;
        int result = ldap_search_ext_s(ld, base.c_str(), scope, filter.c_str(),
                                       const_cast<char **>(names.data()), 0, nullptr, nullptr,
                                       &limit, most + 1, &reply.message);
        if (result != LDAP_SUCCESS && result != LDAP_SIZELIMIT_EXCEEDED)
            return result;
        for (LDAPMessage *m = ldap_first_entry(ld, reply.message); m != nullptr;
             m = ldap_next_entry(ld, m)) {
            entries.emplace_back();
            read_entry(ld, m, entries.back());
        }
        return result;
    });
}

int ldap_search_page(LDAP *ld, const std::string &base, int scope, const std::string &filter,
                     const std::vector<const char *> &attributes, std::string &cookie,
                     std::vector<LdapEntry> &entries)
{
    berval position{0, nullptr};
    if (!cookie.empty()) {
        position.bv_val = static_cast<char *>(ber_memalloc(cookie.size()));
        if (position.bv_val == nullptr)
            return LDAP_NO_MEMORY;
        position.bv_len = cookie.size();
        std::memcpy(position.bv_val, cookie.data(), cookie.size());
    }
    bool more = false;
    int result = search_page(ld, base, scope, filter, attributes, position, more,
                             [&](LDAP *link, LDAPMessage *m) {
                                 entries.emplace_back();
                                 read_entry(link, m, entries.back());
                             });
    cookie.assign(more ? position.bv_val : "", more ? position.bv_len : 0);
    ber_memfree(position.bv_val);
    return result;
}

int ldap_add_entry(const std::string &dn, const std::vector<LdapChange> &attributes)
{
    ModArray mods(attributes);
    return perform([&](LDAP *ld) {
        return ldap_add_ext_s(ld, dn.c_str(), mods.get(), nullptr, nullptr);
    });
}

int ldap_modify_entry(const std::string &dn, const std::vector<LdapChange> &changes)
{
    if (changes.empty())
        return LDAP_SUCCESS;
    ModArray mods(changes);
    return perform([&](LDAP *ld) {
        return ldap_modify_ext_s(ld, dn.c_str(), mods.get(), nullptr, nullptr);
    });
}

int ldap_delete_entry(const std::string &dn)
{
    return perform([&](LDAP *ld) { return ldap_delete_ext_s(ld, dn.c_str(), nullptr, nullptr); });
}

DWORD ldap_code(int result, LdapTarget target)
{
    if (result == NOT_CONNECTED)
        return connect_status;
    return ldap_status(result, target, service.server.c_str(), last_message.c_str());
}

void run_undo(const UndoLog &undo)
{
    for (auto step = undo.rbegin(); step != undo.rend(); ++step) {
        int result = step->kind == UndoStep::REMOVE ? ldap_delete_entry(step->dn)
                     : step->kind == UndoStep::ADD  ? ldap_add_entry(step->dn, step->changes)
                                                    : ldap_modify_entry(step->dn, step->changes);
        if (result != LDAP_SUCCESS)
            log_error("directory %s: cannot undo a change of %s: %s", service.server.c_str(),
                      step->dn.c_str(), ldap_err2string(result));
    }
}

const std::string &ldap_service_server()
{
    return service.server;
}

std::size_t ldap_service_index()
{
    return service.index;
}

void ldap_disconnect()
{
    service.drop();
}
