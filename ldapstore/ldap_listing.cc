// Listings of the accounts: one search over the directory per listing.
// One of more than a few accounts is paged on a connection of its own,
// since a server keeps one paging place per connection and the service
// connection's own searches would reset it. Batches hand out what the
// server pages, in its own order (creation order on OpenLDAP); sorting by
// name would need every name in memory or the server's sort control, whose
// order is not the module's.
//
// Memory: per open listing (LISTINGS_MAX at most) one server page of
// accounts and, for more than a few, the folded names of the
// Administrators' and Guests' members, read once.
#include <ldap.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ldapstore/ldap_connection.h"
#include "ldapstore/ldap_filter.h"
#include "ldapstore/ldap_operations.h"
#include "ldapstore/ldap_store_state.h"
#include "log/trace_log.h"
#include "platform/account_names.h"

namespace {

// Listings a process keeps open; starting one more ends the one left
// unused longest, as a caller that stopped halfway leaves it.
constexpr std::size_t LISTINGS_MAX = 4;

// A listing of at most this many accounts (a narrowed pattern's) is read
// in one search on the service connection, and each account's privileged
// groups are asked for, all at once: with 100,000 members in Guests each
// such search costs the server about 1 ms, reading every member about 40.
constexpr int FEW_ACCOUNTS = 16;

// The folded names of one group's members, in one block of text.
struct MemberSet {
    std::string text;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> names;  // offset, length

    std::string_view at(const std::pair<std::uint32_t, std::uint32_t> &name) const
    {
        return std::string_view(text).substr(name.first, name.second);
    }
    void add(std::string_view folded)
    {
        names.emplace_back(static_cast<std::uint32_t>(text.size()),
                           static_cast<std::uint32_t>(folded.size()));
        text += folded;
    }
    void clear() { *this = MemberSet{}; }
    void seal()
    {
        std::sort(names.begin(), names.end(),
                  [this](const auto &a, const auto &b) { return at(a) < at(b); });
        names.shrink_to_fit();
    }
    bool has(std::string_view folded) const
    {
        auto found = std::lower_bound(names.begin(), names.end(), folded,
                                      [this](const auto &name, std::string_view wanted) {
                                          return at(name) < wanted;
                                      });
        return found != names.end() && at(*found) == folded;
    }
};

struct Listing {
    std::uint64_t serial = 0;
    std::uint64_t handed = 0;  // accounts handed out so far
    LdapLink link;
    std::string filter;
    std::string cookie;  // the server's place, on link
    bool last_page = false;
    std::deque<StoreAccount> waiting;  // read from the server, not yet handed out
    bool members_read = false;
    MemberSet privileged[std::size(PRIVILEGE_GROUPS)];
};

std::vector<std::unique_ptr<Listing>> listings;  // least recently used first
std::uint64_t last_serial = 0;

std::string cursor_of(const Listing &listing)
{
    return std::to_string(listing.serial) + ":" + std::to_string(listing.handed);
}

std::string diagnostic(LDAP *ld)
{
    char *text = nullptr;
    ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &text);
    std::string message = text != nullptr ? text : "";
    ldap_memfree(text);
    return message;
}

DWORD read_members(const char *group, MemberSet &members)
{
    int result = ldap_search_values(
        ldap_store.settings.group_base, LDAP_SCOPE_SUBTREE, group_filter(group),
        schema().group_member, [&] { members.clear(); },
        [&](std::string_view value) { members.add(fold_name(value)); });
    members.seal();
    return result == LDAP_SUCCESS ? NERR_Success : ldap_code(result, LdapTarget::BASE);
}

DWORD read_privileged_members(Listing &listing)
{
    for (std::size_t i = 0; i < std::size(PRIVILEGE_GROUPS); ++i)
        if (DWORD status = read_members(PRIVILEGE_GROUPS[i].name, listing.privileged[i]);
            status != NERR_Success)
            return status;
    listing.members_read = true;
    return NERR_Success;
}

DWORD priv_in(const Listing &listing, const LdapEntry &entry)
{
    std::string member = fold_name(member_value(entry));
    for (std::size_t i = 0; i < std::size(PRIVILEGE_GROUPS); ++i)
        if (listing.privileged[i].has(member))
            return PRIVILEGE_GROUPS[i].priv;
    return USER_PRIV_USER;
}

// The privileged groups of each entry, asked for all at once.
DWORD few_privileges(const std::vector<LdapEntry> &entries, std::vector<DWORD> &privs)
{
    std::string privileged = "(|";
    for (const PrivilegeGroup &group : PRIVILEGE_GROUPS)
        privileged += equality_filter(schema().group_naming, group.name);
    privileged += ")";
    std::vector<std::string> filters;
    for (const LdapEntry &entry : entries)
        filters.push_back(std::string("(&(objectClass=") + schema().group_class + ")" +
                          privileged + equality_filter(schema().group_member, member_value(entry)) +
                          ")");
    std::vector<std::vector<LdapEntry>> found;
    int result = ldap_search_each(ldap_store.settings.group_base, LDAP_SCOPE_SUBTREE, filters,
                                  {schema().group_naming}, found);
    if (result != LDAP_SUCCESS)
        return ldap_code(result, LdapTarget::BASE);
    privs.clear();
    for (const std::vector<LdapEntry> &groups : found) {
        std::set<std::string> names;
        for (const LdapEntry &group : groups)
            if (const std::string *name = group.first(schema().group_naming))
                names.insert(fold_name(*name));
        privs.push_back(priv_of(names));
    }
    return NERR_Success;
}

DWORD take_entries(Listing &listing, const std::vector<LdapEntry> &entries)
{
    std::vector<DWORD> privs;
    if (!listing.members_read)
        if (DWORD status = few_privileges(entries, privs); status != NERR_Success)
            return status;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].first(schema().naming) == nullptr)
            continue;
        StoreAccount &account = listing.waiting.emplace_back();
        read_account(entries[i], account);
        account.priv = listing.members_read ? priv_in(listing, entries[i]) : privs[i];
    }
    return NERR_Success;
}

DWORD read_page(Listing &listing)
{
    std::vector<LdapEntry> entries;
    int result = ldap_search_page(listing.link.ld, ldap_store.settings.user_base,
                                  LDAP_SCOPE_SUBTREE, listing.filter, account_attributes(false),
                                  listing.cookie, entries);
    if (result != LDAP_SUCCESS)
        return ldap_status(result, LdapTarget::BASE, listing.link.server.c_str(),
                           diagnostic(listing.link.ld).c_str());
    listing.last_page = listing.cookie.empty();
    if (!listing.members_read)
        if (DWORD status = read_privileged_members(listing); status != NERR_Success)
            return status;
    return take_entries(listing, entries);
}

// A few accounts are all read at once; more are paged on a connection of
// their own, to the server the service connection reached so that a
// listing does not mix replicas.
DWORD first_read(Listing &listing)
{
    std::vector<LdapEntry> few;
    int result = ldap_search_few(ldap_store.settings.user_base, LDAP_SCOPE_SUBTREE,
                                 listing.filter, account_attributes(false), FEW_ACCOUNTS, few);
    if (result == LDAP_SIZELIMIT_EXCEEDED)
        return ldap_connect_link(listing.link, true, ldap_service_index());
    if (result != LDAP_SUCCESS)
        return ldap_code(result, LdapTarget::BASE);
    listing.last_page = true;
    return take_entries(listing, few);
}

DWORD start_listing(const NameShape &shape, Listing *&started)
{
    if (listings.size() >= LISTINGS_MAX) {
        log_info("directory: a listing left unfinished is ended");
        listings.erase(listings.begin());
    }
    auto listing = std::make_unique<Listing>();
    std::string accounts = std::string("(objectClass=") + schema().account_class + ")";
    std::string narrowed = shape_filter(schema().naming, shape);
    listing->filter = narrowed.empty() ? accounts : "(&" + accounts + narrowed + ")";
    if (DWORD status = first_read(*listing); status != NERR_Success)
        return status;
    listing->serial = ++last_serial;
    started = listing.get();
    listings.push_back(std::move(listing));
    return NERR_Success;
}

// The listing the cursor names, made the most recently used.
DWORD find_listing(const std::string &cursor, Listing *&found)
{
    for (auto it = listings.begin(); it != listings.end(); ++it) {
        if (cursor_of(**it) != cursor)
            continue;
        std::rotate(it, it + 1, listings.end());
        found = listings.back().get();
        return NERR_Success;
    }
    return ERROR_INVALID_PARAMETER;
}

void end_listing(const Listing *listing)
{
    std::erase_if(listings, [listing](const auto &open) { return open.get() == listing; });
}

DWORD fill_batch(Listing &listing, StoreFits fits, void *context, StorePage &page)
{
    for (;;) {
        if (listing.waiting.empty()) {
            if (listing.last_page)
                break;
            if (DWORD status = read_page(listing); status != NERR_Success)
                return status;
            continue;
        }
        if (!fits(listing.waiting.front(), context)) {
            page.more = true;
            break;
        }
        page.accounts.push_back(std::move(listing.waiting.front()));
        listing.waiting.pop_front();
    }
    listing.handed += page.accounts.size();
    page.remaining = static_cast<std::int64_t>(page.accounts.size() + listing.waiting.size());
    if (page.more)
        page.next = cursor_of(listing);
    return NERR_Success;
}

}  // namespace

DWORD ldap_store_list_accounts(const std::string &cursor, const NameShape &shape, StoreFits fits,
                               void *context, StorePage &page)
{
    page = StorePage{};
    Listing *listing = nullptr;
    DWORD status = cursor.empty() ? start_listing(shape, listing) : find_listing(cursor, listing);
    if (status != NERR_Success)
        return status;
    status = fill_batch(*listing, fits, context, page);
    if (status != NERR_Success || !page.more)
        end_listing(listing);
    return status;
}

void ldap_end_listings()
{
    listings.clear();
}
