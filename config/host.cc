#include "config/host.h"

#include <new>

#include "config/settings.h"
#include "text/text.h"
#include "log/trace_log.h"
#include "platform/registry.h"
#include "platform/text_conversion.h"

namespace {

// Wide and narrow host texts: at most 511 characters and the terminator.
constexpr int HOST_TEXT_MAX = 512;
// 256 wide characters; the rest of the zeroed data buffer keeps the name
// terminated whatever the value holds.
constexpr DWORD REGISTRY_DATA_BYTES = 512;

bool to_wide_host_text(const char *narrow, WCHAR *wide)
{
    return MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, HOST_TEXT_MAX) != 0;
}

// The ComputerName value as wide text in data; empty when it cannot be read.
void query_computer_name(LPCWSTR subkey, LPCWSTR value_name, WCHAR *data)
{
    HKEY key = nullptr;
    DWORD size = REGISTRY_DATA_BYTES;
    if (RegCreateKeyW(HKEY_LOCAL_MACHINE, subkey, &key) != ERROR_SUCCESS) {
        data[0] = 0;
        return;
    }
    if (RegQueryValueExW(key, value_name, nullptr, nullptr, reinterpret_cast<LPBYTE>(data),
                         &size) != ERROR_SUCCESS)
        data[0] = 0;
    RegCloseKey(key);
}

// The registry's computer name in work, or work left empty.
// The key and value names as wide literals: nothing to convert or allocate
// for them at every command.
constexpr const WCHAR COMPUTER_NAME_KEY_WIDE[] =
    WTEXT("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName");
constexpr const WCHAR COMPUTER_NAME_VALUE_WIDE[] = WTEXT("ComputerName");

constexpr bool same_ascii(const char *narrow, const WCHAR *wide)
{
    for (; *narrow != '\0' || *wide != 0; ++narrow, ++wide)
        if (static_cast<WCHAR>(*narrow) != *wide)
            return false;
    return true;
}
static_assert(same_ascii(COMPUTER_NAME_KEY, COMPUTER_NAME_KEY_WIDE));
static_assert(same_ascii(COMPUTER_NAME_VALUE, COMPUTER_NAME_VALUE_WIDE));

void read_computer_name(char *work)
{
    WCHAR data[HOST_TEXT_MAX] = {};
    query_computer_name(COMPUTER_NAME_KEY_WIDE, COMPUTER_NAME_VALUE_WIDE, data);
    log_info("Got host name from registry");
    if (WideCharToMultiByte(CP_ACP, 0, data, -1, work, HOST_TEXT_MAX - 1, nullptr, nullptr) == 0) {
        log_error("conversion error for computer name from registry entry");
        work[0] = '\0';
    }
}

// The account service wants the name in its UNC form.
void add_name_prefix(char *work)
{
    char prefixed[HOST_TEXT_MAX];
    copy_bounded(prefixed, "\\\\", HOST_TEXT_MAX - 1);
    append_bounded(prefixed, work, HOST_TEXT_MAX - 1);
    copy_bounded(work, prefixed, HOST_TEXT_MAX - 1);
    log_info("Host does not start with \\\\, so changed to (%s)", work);
}

}  // namespace

HostName resolve_host()
{
    // Not zeroed: the conversion writes a terminated text or the name is none.
    HostName result(new (std::nothrow) WCHAR[HOST_TEXT_MAX]);
    if (!result)
        return nullptr;
    char work[HOST_TEXT_MAX] = {};
    if (settings.host)
        copy_bounded(work, settings.host->c_str(), HOST_TEXT_MAX - 1);
    else
        read_computer_name(work);
    if (work[0] == '\0') {
        log_info("Host - not set by 'host ini setting' and can't find in registry "
                 "(HKEY_LOCAL_MACHINE) (%s))",
                 COMPUTER_NAME_KEY);
        return nullptr;
    }
    log_info("Host {%s}", work);
    if (work[0] != '\\')
        add_name_prefix(work);
    if (!to_wide_host_text(work, result.get()))
        return nullptr;
    return result;
}
