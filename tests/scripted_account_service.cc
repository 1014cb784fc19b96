#include "tests/scripted_account_service.h"

#include <cstdio>
#include <deque>
#include <gtest/gtest.h>

#include "protocol/replies.h"
#include "config/settings.h"
#include "log/trace_log.h"
#include "tests/process_state.h"

#include "platform/account_stores.h"
#include "platform/last_error.h"
#include "platform/text_conversion.h"

AccountScript account_script;

namespace {

// Records and the texts they point at, in one buffer as the service hands
// it out; NetApiBufferFree releases the whole.
struct UserBlock {
    std::vector<USER_INFO_1> records;
    std::deque<WideString> texts;
};

std::optional<WideString> copy_member(LPCWSTR text)
{
    if (text == nullptr)
        return std::nullopt;
    return WideString(text, wide_length(text));
}

LPWSTR store(UserBlock &block, const std::optional<WideString> &text)
{
    if (!text)
        return nullptr;
    block.texts.push_back(*text);
    return block.texts.back().data();
}

USER_INFO_1 to_record(UserBlock &block, const ScriptedUser &user)
{
    USER_INFO_1 record{};
    record.usri1_name = store(block, user.name);
    record.usri1_password = store(block, user.password);
    record.usri1_password_age = user.password_age;
    record.usri1_priv = user.priv;
    record.usri1_home_dir = store(block, user.home_dir);
    record.usri1_comment = store(block, user.comment);
    record.usri1_flags = user.flags;
    record.usri1_script_path = store(block, user.script_path);
    return record;
}

ScriptedUser to_scripted(const USER_INFO_1 &record)
{
    ScriptedUser user;
    user.name = copy_member(record.usri1_name);
    user.password = copy_member(record.usri1_password);
    user.password_age = record.usri1_password_age;
    user.priv = record.usri1_priv;
    user.home_dir = copy_member(record.usri1_home_dir);
    user.comment = copy_member(record.usri1_comment);
    user.flags = record.usri1_flags;
    user.script_path = copy_member(record.usri1_script_path);
    return user;
}

LPBYTE hand_out(const std::vector<ScriptedUser> &users)
{
    auto block = std::make_shared<UserBlock>();
    for (const ScriptedUser &user : users)
        block->records.push_back(to_record(*block, user));
    // Never an empty vector, so that the buffer has an address of its own.
    block->records.push_back(USER_INFO_1{});
    void *address = block->records.data();
    account_script.outstanding_buffers[address] = block;
    return static_cast<LPBYTE>(address);
}

template <typename T>
T take(std::deque<T> &answers, T otherwise)
{
    if (answers.empty())
        return otherwise;
    T answer = answers.front();
    answers.pop_front();
    return answer;
}

bool hands_out_buffer(const ScriptedAnswer &answer)
{
    return answer.result == NERR_Success || answer.result == ERROR_MORE_DATA ||
           answer.with_buffer;
}

ServiceCall &record_call(const char *operation, LPCWSTR server)
{
    ServiceCall call;
    call.operation = operation;
    call.server = copy_member(server);
    account_script.calls.push_back(call);
    return account_script.calls.back();
}

}  // namespace

void reset_account_script()
{
    account_script = AccountScript{};
}

std::vector<ServiceCall> calls_of(const std::string &operation)
{
    std::vector<ServiceCall> found;
    for (const ServiceCall &call : account_script.calls)
        if (call.operation == operation)
            found.push_back(call);
    return found;
}

std::vector<std::string> call_names()
{
    std::vector<std::string> names;
    for (const ServiceCall &call : account_script.calls)
        names.push_back(call.operation);
    return names;
}

WideString wide(const char *text)
{
    std::vector<WCHAR> units(4096);
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, units.data(), 4096);
    return length > 0 ? WideString(units.data(), static_cast<std::size_t>(length - 1)) : WideString();
}

std::string narrow(const WideString &text)
{
    std::string bytes(text.size() * 4 + 1, '\0');
    int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, bytes.data(),
                                     static_cast<int>(bytes.size()), nullptr, nullptr);
    bytes.resize(length > 0 ? static_cast<std::size_t>(length - 1) : 0);
    return bytes;
}

NET_API_STATUS NetUserGetInfo(LPCWSTR servername, LPCWSTR username, DWORD level, LPBYTE *bufptr)
{
    ServiceCall &call = record_call("NetUserGetInfo", servername);
    call.user = copy_member(username);
    call.level = level;
    ScriptedAnswer answer = take(account_script.info_answers, ScriptedAnswer{NERR_UserNotFound, {}, false});
    *bufptr = hands_out_buffer(answer) ? hand_out(answer.users) : nullptr;
    return answer.result;
}

NET_API_STATUS NetUserEnum(LPCWSTR servername, DWORD level, DWORD filter, LPBYTE *bufptr,
                           DWORD prefmaxlen, LPDWORD entriesread, LPDWORD totalentries,
                           LPDWORD resume_handle)
{
    ServiceCall &call = record_call("NetUserEnum", servername);
    call.level = level;
    call.filter = filter;
    call.preferred_length = prefmaxlen;
    if (resume_handle != nullptr)
        call.resume = *resume_handle;
    ScriptedAnswer batch = take(account_script.enum_batches, ScriptedAnswer{});
    *bufptr = hands_out_buffer(batch) ? hand_out(batch.users) : nullptr;
    *entriesread = *bufptr ? static_cast<DWORD>(batch.users.size()) : 0;
    *totalentries = *entriesread;
    if (resume_handle != nullptr)
        *resume_handle += *entriesread;
    return batch.result;
}

NET_API_STATUS NetUserAdd(LPCWSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err)
{
    ServiceCall &call = record_call("NetUserAdd", servername);
    call.level = level;
    call.record = to_scripted(*reinterpret_cast<USER_INFO_1 *>(buf));
    ScriptedWrite answer = take(account_script.add_answers, ScriptedWrite{});
    if (parm_err != nullptr && answer.result == ERROR_INVALID_PARAMETER)
        *parm_err = answer.parameter_index;
    return answer.result;
}

NET_API_STATUS NetUserSetInfo(LPCWSTR servername, LPCWSTR username, DWORD level, LPBYTE buf,
                              LPDWORD parm_err)
{
    ServiceCall &call = record_call("NetUserSetInfo", servername);
    call.user = copy_member(username);
    call.level = level;
    call.record = to_scripted(*reinterpret_cast<USER_INFO_1 *>(buf));
    ScriptedWrite answer = take(account_script.set_info_answers, ScriptedWrite{});
    if (parm_err != nullptr && answer.result == ERROR_INVALID_PARAMETER)
        *parm_err = answer.parameter_index;
    return answer.result;
}

NET_API_STATUS NetUserDel(LPCWSTR servername, LPCWSTR username)
{
    ServiceCall &call = record_call("NetUserDel", servername);
    call.user = copy_member(username);
    return take(account_script.del_answers, NERR_Success);
}

NET_API_STATUS NetLocalGroupAddMembers(LPCWSTR servername, LPCWSTR groupname, DWORD level,
                                       LPBYTE buf, DWORD totalentries)
{
    ServiceCall &call = record_call("NetLocalGroupAddMembers", servername);
    call.group = copy_member(groupname);
    call.level = level;
    const auto *members = reinterpret_cast<const LOCALGROUP_MEMBERS_INFO_3 *>(buf);
    for (DWORD i = 0; i < totalentries; ++i)
        call.members.push_back(copy_member(members[i].lgrmi3_domainandname).value_or(WideString()));
    return take(account_script.add_members_answers, NERR_Success);
}

void begin_account_change()
{
    ++account_script.open_changes;
}

NET_API_STATUS end_account_change(bool keep)
{
    --account_script.open_changes;
    if (!keep)
        ++account_script.changes_undone;
    ++account_script.changes_ended;
    return account_script.change_end_answer;
}

void narrow_next_listing(std::vector<std::string> shape)
{
    account_script.listing_shape = std::move(shape);
}

// The scripted service stands in for the sqlite store alone.
DWORD choose_account_store(const char *name, const StoreSettings &settings,
                           StoreSettingFault &fault)
{
    fault = StoreSettingFault{};
    account_script.chosen_store = name != nullptr ? name : "";
    account_script.store_settings = settings;
    return account_script.chosen_store == "sqlite" ? NERR_Success : ERROR_INVALID_NAME;
}

// A read of the policy, like a change, is no call: the calls of set stay
// as the service is asked to change things.
NET_API_STATUS NetUserModalsGet(LPCWSTR, DWORD, LPBYTE *bufptr)
{
    *bufptr = nullptr;
    if (account_script.modals_answer != NERR_Success)
        return account_script.modals_answer;
    auto info = std::make_shared<USER_MODALS_INFO_0>();
    info->usrmod0_min_passwd_len = account_script.min_password_length;
    *bufptr = reinterpret_cast<LPBYTE>(info.get());
    account_script.outstanding_buffers[info.get()] = info;
    return NERR_Success;
}

NET_API_STATUS NetApiBufferFree(void *buffer)
{
    if (account_script.outstanding_buffers.erase(buffer) == 0)
        ++account_script.unknown_frees;
    return NERR_Success;
}

BOOL LogonUserW(LPCWSTR username, LPCWSTR domain, LPCWSTR password, DWORD logon_type,
                DWORD logon_provider, PHANDLE token)
{
    ServiceCall &call = record_call("LogonUserW", domain);
    call.user = copy_member(username);
    call.password = copy_member(password);
    call.logon_type = logon_type;
    call.logon_provider = logon_provider;
    ScriptedLogon answer =
        take(account_script.logon_answers, ScriptedLogon{FALSE, ERROR_LOGON_FAILURE});
    if (!answer.accepted) {
        SetLastError(answer.last_error);
        return FALSE;
    }
    ++account_script.open_tokens;
    *token = &account_script;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle)
{
    if (handle == &account_script)
        --account_script.open_tokens;
    return TRUE;
}

void reset_command_state()
{
    reset_process_state();
    settings.host = "TESTHOST";
    settings.group = "Guests";
    settings.uname = "Lodgate 1.0i user";
    reset_account_script();
}

OwnedWordList command_words(const std::vector<std::string> &words)
{
    OwnedWordList list;
    list.has_program_path = true;
    list.texts.push_back("lodgate");
    list.texts.insert(list.texts.end(), words.begin(), words.end());
    for (const std::string &text : list.texts)
        list.pointers.push_back(text.c_str());
    list.pointers.push_back(nullptr);
    return list;
}

CommandRun run_command(CommandHandler handler, const std::vector<std::string> &words)
{
    OwnedWordList list = command_words(words);
    testing::internal::CaptureStdout();
    int result = handler(list.view(), 1);
    return CommandRun{result, testing::internal::GetCapturedStdout()};
}

TraceCapture::TraceCapture(int level) : file(std::tmpfile())
{
    log_file = file;
    log_level = level;
}

TraceCapture::~TraceCapture()
{
    if (log_file != file)
        return;
    (void)std::fclose(file);
    log_file = nullptr;
    log_level = LOG_OFF;
}

std::string TraceCapture::text() const
{
    (void)std::fflush(file);
    std::rewind(file);
    std::string text;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    (void)std::fseek(file, 0, SEEK_END);
    return text;
}

std::vector<std::string> TraceCapture::messages() const
{
    // A line reads "dd hh:mm:ss yyyy:[pid]LEVEL message".
    std::vector<std::string> found;
    std::string all = text();
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos)
            end = all.size();
        std::string line = all.substr(start, end - start);
        std::size_t bracket = line.find(']');
        found.push_back(bracket == std::string::npos ? "?" + line : line.substr(bracket + 1));
        start = end + 1;
    }
    return found;
}

bool TraceCapture::has(const std::string &level, const std::string &message) const
{
    std::string wanted = level;
    wanted += ' ';
    wanted += message;
    for (const std::string &line : messages())
        if (line == wanted)
            return true;
    return false;
}
