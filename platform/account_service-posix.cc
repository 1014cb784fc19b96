// The netapi32 and advapi32 account functions over the account database.
#include "platform/account_service.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

#include "platform/account_names.h"
#include "platform/account_backend.h"
#include "platform/account_stores.h"
#include "platform/host_name.h"
#include "platform/last_error.h"
#include "platform/parameter_number.h"
#include "platform/secret_text.h"
#include "platform/utf_text.h"

namespace {

constexpr DWORD USER_LEVEL = 1;
constexpr DWORD MEMBERS_LEVEL = 3;

// Names that mean this computer besides its host name.
constexpr std::string_view LOCAL_NAMES[] = {"localhost", "127.0.0.1", "."};

struct BufferRelease {
    void operator()(void *buffer) const { std::free(buffer); }
};
using ServiceBuffer = std::unique_ptr<void, BufferRelease>;

// What LogonUserW hands out; CloseHandle takes back only these.
struct LogonToken {};
std::vector<std::unique_ptr<LogonToken>> live_tokens;

bool same_ascii_text(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (x != y && fold_code_point(x) != fold_code_point(y))
            return false;
    }
    return true;
}

bool is_this_computer(std::string_view name)
{
    for (std::string_view local : LOCAL_NAMES)
        if (same_ascii_text(name, local))
            return true;
    const std::string &host = host_name();
    if (host.empty())
        return false;
    std::string_view full(host);
    // The computer name is the host name's first label, as NetBIOS knows it.
    return same_ascii_text(name, full) || same_ascii_text(name, full.substr(0, full.find('.')));
}

bool computer_name_is_well_formed(std::string_view name)
{
    if (name.empty())
        return false;
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '/' || c == ' ' || byte < 0x20 || byte == 0x7F)
            return false;
    }
    return true;
}

// NERR_Success when server names this computer.
DWORD server_name_status(LPCWSTR server)
{
    if (server == nullptr || server[0] == 0)
        return NERR_Success;
    std::string text;
    if (!wide_to_utf8(server, text))
        return NERR_InvalidComputer;
    std::string_view name(text);
    if (name.starts_with("\\\\"))
        name.remove_prefix(2);
    if (!computer_name_is_well_formed(name))
        return NERR_InvalidComputer;
    return is_this_computer(name) ? NERR_Success : ERROR_BAD_NETPATH;
}

// A member name of NetLocalGroupAddMembers, with "COMPUTER\" dropped when it
// names this computer; a member of another computer gets the empty name,
// which no account has.
std::string local_member_name(LPCWSTR wide)
{
    std::string text;
    if (wide == nullptr || !wide_to_utf8(wide, text))
        return {};
    std::string::size_type slash = text.rfind('\\');
    if (slash == std::string::npos)
        return text;
    std::string_view domain(text.data(), slash);
    if (!computer_name_is_well_formed(domain) || !is_this_computer(domain))
        return {};
    return text.substr(slash + 1);
}

// The narrow password in secret; false when it is no valid UTF-16 or longer
// than any store takes.
bool secret_from_wide(LPCWSTR wide, SecretText &secret)
{
    secret.bytes.assign(PASSWORD_BYTES_MAX + 1, '\0');
    return wide_to_utf8_into(wide, secret.bytes.data(), secret.bytes.size(), &secret.length);
}

// An optional text member; false when it is no valid UTF-16 or a value
// that no reply could carry as it is.
bool read_text_member(LPCWSTR wide, std::optional<std::string> &text)
{
    if (wide == nullptr) {
        text.reset();
        return true;
    }
    text.emplace();
    return wide_to_utf8(wide, *text) && value_is_storable(*text);
}

DWORD read_password_member(LPCWSTR wide, SecretText &secret)
{
    if (wide_text_units(wide) > ACCOUNT_TEXT_MAX || !secret_from_wide(wide, secret))
        return MEMBER_PASSWORD;
    return 0;
}

// 0, or the index of the first faulty member of info. The password is read
// when given; with_name also reads the name.
DWORD read_members(const USER_INFO_1 &info, bool with_name, StoreAccount &account,
                   SecretText &password)
{
    if (with_name &&
        (info.usri1_name == nullptr || !wide_to_utf8(info.usri1_name, account.name) ||
         !name_is_addressable(account.name)))
        return MEMBER_NAME;
    if (info.usri1_password != nullptr && read_password_member(info.usri1_password, password) != 0)
        return MEMBER_PASSWORD;
    account.priv = info.usri1_priv;
    account.flags = info.usri1_flags;
    if (info.usri1_priv > USER_PRIV_ADMIN)
        return MEMBER_PRIV;
    if (!read_text_member(info.usri1_home_dir, account.home_dir))
        return MEMBER_HOME_DIR;
    if (!read_text_member(info.usri1_comment, account.comment))
        return MEMBER_COMMENT;
    if (!user_flags_are_valid(info.usri1_flags))
        return MEMBER_FLAGS;
    if (!read_text_member(info.usri1_script_path, account.script_path))
        return MEMBER_SCRIPT_PATH;
    return 0;
}

DWORD invalid_parameter(LPDWORD parm_err, DWORD index)
{
    if (parm_err != nullptr)
        *parm_err = index;
    return ERROR_INVALID_PARAMETER;
}

std::size_t wide_bytes(std::string_view text)
{
    return (wide_units_of(text) + 1) * sizeof(WCHAR);
}

std::size_t optional_wide_bytes(const std::optional<std::string> &text)
{
    return text ? wide_bytes(*text) : 0;
}

std::size_t entry_bytes(const StoreAccount &account)
{
    return sizeof(USER_INFO_1) + wide_bytes(account.name) +
           optional_wide_bytes(account.home_dir) + optional_wide_bytes(account.comment) +
           optional_wide_bytes(account.script_path);
}

LPWSTR place_text(std::string_view text, WCHAR *&cursor)
{
    LPWSTR start = cursor;
    cursor = utf8_to_wide(text, cursor);
    *cursor++ = 0;
    return start;
}

LPWSTR place_optional_text(const std::optional<std::string> &text, WCHAR *&cursor)
{
    return text ? place_text(*text, cursor) : nullptr;
}

DWORD password_age(const StoreAccount &account, std::int64_t now)
{
    std::int64_t age = now - account.password_set;
    if (account.password_set == 0 || age < 0)
        return 0;
    return age > UINT32_MAX ? UINT32_MAX : static_cast<DWORD>(age);
}

// One allocation: the records, then their texts.
DWORD pack_accounts(const std::vector<StoreAccount> &accounts, LPBYTE *bufptr)
{
    std::size_t total = 0;
    for (const StoreAccount &account : accounts)
        total += entry_bytes(account);
    ServiceBuffer buffer(std::malloc(total));
    if (!buffer)
        return ERROR_NOT_ENOUGH_MEMORY;
    auto *infos = static_cast<USER_INFO_1 *>(buffer.get());
    auto *cursor = reinterpret_cast<WCHAR *>(infos + accounts.size());
    std::int64_t now = std::time(nullptr);
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        const StoreAccount &account = accounts[i];
        auto *info = new (&infos[i]) USER_INFO_1{};
        info->usri1_name = place_text(account.name, cursor);
        info->usri1_password = nullptr;
        info->usri1_password_age = password_age(account, now);
        info->usri1_priv = account.priv;
        info->usri1_home_dir = place_optional_text(account.home_dir, cursor);
        info->usri1_comment = place_optional_text(account.comment, cursor);
        info->usri1_flags = account.flags;
        info->usri1_script_path = place_optional_text(account.script_path, cursor);
    }
    *bufptr = static_cast<LPBYTE>(buffer.release());
    return NERR_Success;
}

// The users' name as stored text; false when it cannot be any account's.
bool account_name(LPCWSTR wide, std::string &name)
{
    return wide_to_utf8(wide, name) && name_is_valid(name);
}

// The store, or NERR_InternalError when the configuration named none.
DWORD find_store(const AccountBackend *&store)
{
    store = account_store();
    return store != nullptr ? NERR_Success : NERR_InternalError;
}

BOOL logon_failure(DWORD code)
{
    SetLastError(code);
    return FALSE;
}

// The stores' paging cursors, which need not be numbers (a directory's
// paging cookie): a resume handle is a slot of this table, counted from 1.
// An enumeration left unfinished keeps its slot until the process ends;
// the table is bounded, the oldest slot taken again when it is full.
constexpr std::size_t CURSOR_SLOTS = 64;
std::optional<std::string> cursor_slots[CURSOR_SLOTS];
std::size_t oldest_cursor_slot = 0;

NameShape next_listing_shape;

DWORD keep_cursor(std::string cursor)
{
    std::size_t slot = 0;
    while (slot < CURSOR_SLOTS && cursor_slots[slot])
        ++slot;
    if (slot == CURSOR_SLOTS) {
        slot = oldest_cursor_slot;
        oldest_cursor_slot = (oldest_cursor_slot + 1) % CURSOR_SLOTS;
    }
    cursor_slots[slot] = std::move(cursor);
    return static_cast<DWORD>(slot + 1);
}

// The cursor a resume handle names, freeing its slot; false for a handle
// that names none.
bool take_cursor(DWORD handle, std::string &cursor)
{
    cursor.clear();
    if (handle == 0)
        return true;
    if (handle > CURSOR_SLOTS || !cursor_slots[handle - 1])
        return false;
    cursor = std::move(*cursor_slots[handle - 1]);
    cursor_slots[handle - 1].reset();
    return true;
}

bool fits_buffer(const StoreAccount &account, void *context)
{
    auto &budget = *static_cast<std::pair<std::size_t, DWORD> *>(context);
    std::size_t size = entry_bytes(account);
    if (budget.first > 0 && budget.second != MAX_PREFERRED_LENGTH &&
        budget.first + size > budget.second)
        return false;
    budget.first += size;
    return true;
}

}  // namespace

NET_API_STATUS NetUserGetInfo(LPCWSTR servername, LPCWSTR username, DWORD level, LPBYTE *bufptr)
{
    if (bufptr == nullptr)
        return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    DWORD status = server_name_status(servername);
    if (status != NERR_Success)
        return status;
    if (level != USER_LEVEL)
        return ERROR_INVALID_LEVEL;
    if (username == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::string name;
    if (!account_name(username, name))
        return NERR_UserNotFound;
    const AccountBackend *store = nullptr;
    if ((status = find_store(store)) != NERR_Success)
        return status;
    std::vector<StoreAccount> accounts(1);
    status = store->find_account(name, accounts[0]);
    if (status != NERR_Success)
        return status;
    return pack_accounts(accounts, bufptr);
}

NET_API_STATUS NetUserEnum(LPCWSTR servername, DWORD level, DWORD filter, LPBYTE *bufptr,
                           DWORD prefmaxlen, LPDWORD entriesread, LPDWORD totalentries,
                           LPDWORD resume_handle)
{
    NameShape shape = std::exchange(next_listing_shape, {});
    if (bufptr == nullptr || entriesread == nullptr || totalentries == nullptr)
        return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    *entriesread = 0;
    *totalentries = 0;
    DWORD status = server_name_status(servername);
    if (status != NERR_Success)
        return status;
    if (level != USER_LEVEL)
        return ERROR_INVALID_LEVEL;
    if (filter != 0 && filter != FILTER_NORMAL_ACCOUNT)
        return ERROR_INVALID_PARAMETER;
    const AccountBackend *store = nullptr;
    if ((status = find_store(store)) != NERR_Success)
        return status;
    std::string cursor;
    if (!take_cursor(resume_handle != nullptr ? *resume_handle : 0, cursor))
        return ERROR_INVALID_PARAMETER;
    std::pair<std::size_t, DWORD> budget{0, prefmaxlen};
    StorePage page;
    status = store->list_accounts(cursor, shape, fits_buffer, &budget, page);
    if (status != NERR_Success)
        return status;
    if (!page.accounts.empty() && (status = pack_accounts(page.accounts, bufptr)) != NERR_Success)
        return status;
    *entriesread = static_cast<DWORD>(page.accounts.size());
    *totalentries = static_cast<DWORD>(page.remaining);
    if (resume_handle != nullptr)
        *resume_handle = page.more ? keep_cursor(std::move(page.next)) : 0;
    return page.more ? ERROR_MORE_DATA : NERR_Success;
}

NET_API_STATUS NetUserAdd(LPCWSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err)
{
    DWORD status = server_name_status(servername);
    if (status != NERR_Success)
        return status;
    if (level != USER_LEVEL)
        return ERROR_INVALID_LEVEL;
    if (buf == nullptr)
        return ERROR_INVALID_PARAMETER;
    const AccountBackend *store = nullptr;
    if ((status = find_store(store)) != NERR_Success)
        return status;
    const auto &info = *reinterpret_cast<const USER_INFO_1 *>(buf);
    StoreAccount account;
    SecretText password;
    DWORD fault = read_members(info, true, account, password);
    if (fault != 0)
        return invalid_parameter(parm_err, fault);
    // Without a password the account has none that verifies until one is
    // set; the store checks one given against the policy.
    StorePassword stored{info.usri1_password != nullptr ? password.text() : nullptr, nullptr};
    return store->insert_account(account, stored, parm_err);
}

NET_API_STATUS NetUserSetInfo(LPCWSTR servername, LPCWSTR username, DWORD level, LPBYTE buf,
                              LPDWORD parm_err)
{
    DWORD status = server_name_status(servername);
    if (status != NERR_Success)
        return status;
    if (level != USER_LEVEL)
        return ERROR_INVALID_LEVEL;
    if (buf == nullptr || username == nullptr)
        return ERROR_INVALID_PARAMETER;
    const AccountBackend *store = nullptr;
    if ((status = find_store(store)) != NERR_Success)
        return status;
    const auto &info = *reinterpret_cast<const USER_INFO_1 *>(buf);
    StoreAccount values;
    SecretText password;
    DWORD fault = read_members(info, false, values, password);
    if (fault != 0)
        return invalid_parameter(parm_err, fault);
    std::string name;
    if (!account_name(username, name))
        return NERR_UserNotFound;
    if (info.usri1_password == nullptr)
        return store->update_account(name, values, nullptr, parm_err);
    StorePassword stored{password.text(), nullptr};
    return store->update_account(name, values, &stored, parm_err);
}

NET_API_STATUS NetUserDel(LPCWSTR servername, LPCWSTR username)
{
    DWORD status = server_name_status(servername);
    if (status != NERR_Success)
        return status;
    if (username == nullptr)
        return ERROR_INVALID_PARAMETER;
    const AccountBackend *store = nullptr;
    if ((status = find_store(store)) != NERR_Success)
        return status;
    std::string name;
    if (!account_name(username, name))
        return NERR_UserNotFound;
    return store->delete_account(name);
}

NET_API_STATUS NetLocalGroupAddMembers(LPCWSTR servername, LPCWSTR groupname, DWORD level,
                                       LPBYTE buf, DWORD totalentries)
{
    DWORD status = server_name_status(servername);
    if (status != NERR_Success)
        return status;
    if (level != MEMBERS_LEVEL)
        return ERROR_INVALID_LEVEL;
    if (groupname == nullptr || (buf == nullptr && totalentries > 0))
        return ERROR_INVALID_PARAMETER;
    const AccountBackend *store = nullptr;
    if ((status = find_store(store)) != NERR_Success)
        return status;
    std::string group;
    if (!account_name(groupname, group))
        return NERR_GroupNotFound;
    const auto *entries = reinterpret_cast<const LOCALGROUP_MEMBERS_INFO_3 *>(buf);
    std::vector<std::string> members;
    members.reserve(totalentries);
    for (DWORD i = 0; i < totalentries; ++i)
        members.push_back(local_member_name(entries[i].lgrmi3_domainandname));
    return store->add_group_members(group, members);
}

void narrow_next_listing(std::vector<std::string> shape)
{
    next_listing_shape = std::move(shape);
}

// Without the bracket (the store cannot make one, or its write lock was not
// had) each call goes on to answer for itself.
void begin_account_change()
{
    if (const AccountBackend *store = account_store())
        store->begin_change();
}

NET_API_STATUS end_account_change(bool keep)
{
    const AccountBackend *store = account_store();
    return store != nullptr ? store->end_change(keep) : NERR_InternalError;
}

NET_API_STATUS NetApiBufferFree(void *buffer)
{
    std::free(buffer);
    return NERR_Success;
}

BOOL LogonUserW(LPCWSTR username, LPCWSTR domain, LPCWSTR password, DWORD logon_type,
                DWORD logon_provider, PHANDLE token)
{
    if (token != nullptr)
        *token = nullptr;
    if (token == nullptr || logon_type != LOGON32_LOGON_INTERACTIVE ||
        logon_provider != LOGON32_PROVIDER_DEFAULT)
        return logon_failure(ERROR_INVALID_PARAMETER);
    if (server_name_status(domain) != NERR_Success)
        return logon_failure(ERROR_NO_SUCH_DOMAIN);
    // Refused before any store is asked: no account can have such a password.
    SecretText secret;
    if (!secret_from_wide(password, secret))
        return logon_failure(ERROR_LOGON_FAILURE);
    const AccountBackend *store = nullptr;
    DWORD error = find_store(store);
    if (error != NERR_Success)
        return logon_failure(error);
    std::string name;
    if (username == nullptr || !account_name(username, name))
        name.clear();
    StoreAccount account;
    LogonVerdict verdict = store->verify_logon(name, secret.text(), account, error);
    if (verdict == LogonVerdict::STORE_ERROR)
        return logon_failure(error);
    // A locked or disabled account is refused as a wrong password is, so
    // that the answer tells nothing of the account; the store traces why.
    if (verdict != LogonVerdict::RIGHT)
        return logon_failure(ERROR_LOGON_FAILURE);
    auto issued = std::unique_ptr<LogonToken>(new (std::nothrow) LogonToken{});
    if (!issued)
        return logon_failure(ERROR_NOT_ENOUGH_MEMORY);
    *token = issued.get();
    live_tokens.push_back(std::move(issued));
    return TRUE;
}

BOOL CloseHandle(HANDLE handle)
{
    for (auto it = live_tokens.begin(); it != live_tokens.end(); ++it) {
        if (it->get() == handle) {
            live_tokens.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

NET_API_STATUS NetUserModalsGet(LPCWSTR servername, DWORD level, LPBYTE *bufptr)
{
    if (bufptr == nullptr)
        return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    DWORD status = server_name_status(servername);
    if (status != NERR_Success)
        return status;
    if (level != 0)
        return ERROR_INVALID_LEVEL;
    const AccountBackend *store = nullptr;
    if ((status = find_store(store)) != NERR_Success)
        return status;
    std::int64_t minimum = 0;
    if (store->read_policy(PolicyKey::MIN_PASSWORD_LENGTH, minimum) != NERR_Success)
        return NERR_InternalError;
    ServiceBuffer buffer(std::calloc(1, sizeof(USER_MODALS_INFO_0)));
    if (!buffer)
        return ERROR_NOT_ENOUGH_MEMORY;
    auto *info = static_cast<USER_MODALS_INFO_0 *>(buffer.get());
    info->usrmod0_min_passwd_len = static_cast<DWORD>(std::clamp<std::int64_t>(minimum, 0, UINT32_MAX));
    info->usrmod0_max_passwd_age = TIMEQ_FOREVER;
    *bufptr = static_cast<LPBYTE>(buffer.release());
    return NERR_Success;
}
