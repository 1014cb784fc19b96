// The one registry value POSIX has: the computer name, which is the host
// name that gethostname() gives.
#include "platform/registry.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "platform/text_conversion.h"
#include "platform/host_name.h"

struct HKEY__ {
    bool computer_name;  // the ComputerName key rather than a root
};

namespace {

constexpr DWORD REG_SZ = 1;

constexpr std::u16string_view COMPUTER_NAME_SUBKEY =
    u"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
constexpr std::u16string_view COMPUTER_NAME_VALUE = u"ComputerName";

HKEY__ local_machine{false};
std::vector<std::unique_ptr<HKEY__>> open_keys;

WCHAR fold_ascii(WCHAR unit)
{
    return unit >= u'a' && unit <= u'z' ? static_cast<WCHAR>(unit - (u'a' - u'A')) : unit;
}

// Registry names compare without regard to case.
bool same_name(LPCWSTR name, std::u16string_view expected)
{
    if (name == nullptr)
        return false;
    std::size_t i = 0;
    for (; i < expected.size(); ++i)
        if (name[i] != expected[i] &&
            (name[i] == 0 || fold_ascii(name[i]) != fold_ascii(expected[i])))
            return false;
    return name[i] == 0;
}

bool is_open_key(HKEY key)
{
    return std::any_of(open_keys.begin(), open_keys.end(),
                       [key](const std::unique_ptr<HKEY__> &open) { return open.get() == key; });
}

// The host name as terminated UTF-16; empty when it cannot be had.
std::u16string read_computer_name()
{
    const std::string &host = host_name();
    if (host.empty())
        return {};
    WCHAR wide[HOST_NAME_MAX + 1] = {};
    int units = MultiByteToWideChar(CP_ACP, 0, host.c_str(), -1, wide, HOST_NAME_MAX + 1);
    if (units <= 0)
        return {};
    return std::u16string(wide, static_cast<std::size_t>(units));
}

const std::u16string &computer_name()
{
    static const std::u16string name = read_computer_name();
    return name;
}

}  // namespace

const HKEY HKEY_LOCAL_MACHINE = &local_machine;

LSTATUS RegCreateKeyW(HKEY key, LPCWSTR subkey, PHKEY result)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (key != HKEY_LOCAL_MACHINE && !is_open_key(key))
        return ERROR_INVALID_HANDLE;
    if (subkey == nullptr || subkey[0] == 0) {
        *result = key;
        return ERROR_SUCCESS;
    }
    if (key != HKEY_LOCAL_MACHINE || !same_name(subkey, COMPUTER_NAME_SUBKEY))
        return ERROR_FILE_NOT_FOUND;
    auto opened = std::unique_ptr<HKEY__>(new (std::nothrow) HKEY__{true});
    if (!opened)
        return ERROR_NOT_ENOUGH_MEMORY;
    *result = opened.get();
    open_keys.push_back(std::move(opened));
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR value_name, LPDWORD reserved, LPDWORD type,
                         LPBYTE data, LPDWORD data_size)
{
    if (reserved != nullptr || (data != nullptr && data_size == nullptr))
        return ERROR_INVALID_PARAMETER;
    if (key != HKEY_LOCAL_MACHINE && !is_open_key(key))
        return ERROR_INVALID_HANDLE;
    if (!key->computer_name || !same_name(value_name, COMPUTER_NAME_VALUE))
        return ERROR_FILE_NOT_FOUND;
    const std::u16string &name = computer_name();
    if (name.empty())
        return ERROR_FILE_NOT_FOUND;
    if (type != nullptr)
        *type = REG_SZ;
    auto needed = static_cast<DWORD>(name.size() * sizeof(WCHAR));
    if (data_size == nullptr)
        return ERROR_SUCCESS;
    DWORD room = *data_size;
    *data_size = needed;
    if (data == nullptr)
        return ERROR_SUCCESS;
    if (room < needed)
        return ERROR_MORE_DATA;
    std::memcpy(data, name.data(), needed);
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE)
        return ERROR_SUCCESS;
    auto it = std::find_if(open_keys.begin(), open_keys.end(),
                           [key](const std::unique_ptr<HKEY__> &open) { return open.get() == key; });
    if (it == open_keys.end())
        return ERROR_INVALID_HANDLE;
    open_keys.erase(it);
    return ERROR_SUCCESS;
}
