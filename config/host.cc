#include "config/host.h"

#include <new>

#include "config/settings.h"
#include "log/text.h"
#include "log/trace_log.h"
#include "platform/registry.h"
#include "platform/text_conversion.h"

namespace {

// Wide and narrow host texts: at most 511 characters and the terminator.
constexpr int HOST_TEXT_MAX = 512;
// 256 wide characters; the rest of the zeroed data buffer keeps the name
// terminated whatever the value holds.
constexpr DWORD REGISTRY_DATA_BYTES = 512;

std::unique_ptr<WCHAR[]> new_wide_buffer()
{
    return std::unique_ptr<WCHAR[]>(new (std::nothrow) WCHAR[HOST_TEXT_MAX]());
}

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
void read_computer_name(char *work)
{
    std::unique_ptr<WCHAR[]> subkey = new_wide_buffer();
    std::unique_ptr<WCHAR[]> value_name = new_wide_buffer();
    std::unique_ptr<WCHAR[]> data = new_wide_buffer();
    if (!subkey || !value_name || !data || !to_wide_host_text(COMPUTER_NAME_KEY, subkey.get()) ||
        !to_wide_host_text(COMPUTER_NAME_VALUE, value_name.get())) {
        log_info("Conversion error for KEY_COMPUTER_NAME - can't retrieve hostname from registry");
        return;
    }
    query_computer_name(subkey.get(), value_name.get(), data.get());
    log_info("Got host name from registry");
    if (WideCharToMultiByte(CP_ACP, 0, data.get(), -1, work, HOST_TEXT_MAX - 1, nullptr,
                            nullptr) == 0) {
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
    HostName result(new (std::nothrow) WCHAR[HOST_TEXT_MAX]());
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
