// The configuration file and the process-wide settings read from it.
#pragma once

#include <optional>
#include <string>

constexpr const char CONFIG_FILE_NAME[] = "lodgate.ini";
constexpr const char DEFAULT_GROUP[] = "Guests";
// One read of the file takes at most 510 characters, line feed included.
constexpr int CONFIG_LINE_MAX = 511;
// New home directories: owner only unless home_mode says otherwise.
constexpr unsigned DEFAULT_HOME_MODE = 0700;
constexpr unsigned HOME_MODE_MAX = 07777;

// A setting's text: absent is distinct from the empty text.
using SettingText = std::optional<std::string>;

struct Settings {
    SettingText work_path;
    SettingText group;
    SettingText uname;
    SettingText host;
    SettingText script_path;
    SettingText password_file;
    SettingText base_uid;
    SettingText home_path;
    SettingText script;
    SettingText shadow_file;
    SettingText sp_expire;
    SettingText sp_min;
    SettingText sp_max;
    SettingText sp_warn;
    SettingText sp_inact;
    SettingText account_db;       // POSIX account database file
    SettingText account_service;  // POSIX: the store of the accounts (sqlite, ldap)
    // The directory store (account_service ldap).
    SettingText ldap_uri;
    SettingText ldap_user_base;
    SettingText ldap_group_base;
    SettingText ldap_bind_dn;
    SettingText ldap_bind_password_file;  // the password itself is never a setting
    SettingText ldap_tls;
    SettingText ldap_ca_file;
    SettingText ldap_timeout;
    SettingText ldap_schema;
    SettingText ldap_policy_dn;
    bool shadow = true;
    bool log_passwords = false;
    unsigned home_mode = DEFAULT_HOME_MODE;  // permission bits of new home directories
};

extern Settings settings;

// The path of the configuration file that load_configuration read; empty
// before it has read one.
extern std::string configuration_file_path;

// The text of a setting, or nullptr when it is absent.
inline const char *setting_text(const SettingText &value)
{
    return value ? value->c_str() : nullptr;
}

// Finds the configuration file (the base name's file in the work path or
// the current directory, then lodgate.ini in the system directory) and reads
// it. 1 when a file was read; 0 after the "-DEAD" reply when none opened;
// -1 after the "-DEAD" line of a log file that its path line could not
// open, where the module ends with status 0.
int load_configuration(const char *work_path, const char *base_name);

// Releases every text setting; the flags are untouched.
void free_configuration();
