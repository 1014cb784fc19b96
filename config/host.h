// The host computer whose accounts the commands work on.
#pragma once

#include <memory>

#include "platform/win_types.h"

// A wide host name owned by the command that resolved it.
using HostName = std::unique_ptr<WCHAR[]>;

constexpr const char COMPUTER_NAME_KEY[] =
    "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
constexpr const char COMPUTER_NAME_VALUE[] = "ComputerName";

// Two backslashes and the computer name, from the host setting when there
// is one (even an empty one) and otherwise from the registry; absent when
// neither gives a name. Read anew, with its trace lines, at every call.
HostName resolve_host();
