#include "config/settings.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>

#include "log/product.h"
#include "protocol/replies.h"
#include "log/paths.h"
#include "text/text.h"
#include "log/trace_log.h"
#include "platform/path_style.h"
#include "platform/system_directory.h"
#include "platform/text_conversion.h"

Settings settings;
std::string configuration_file_path;

namespace {

// Candidate names and the converted system directory hold at most 511
// characters; the wide system directory at most 255.
constexpr int CANDIDATE_MAX = 512;
constexpr int SYSTEM_DIRECTORY_WIDE_MAX = 256;
constexpr const char BLANKS[] = " \t\r\n";

// The program's base name while the file is read, for the log file that a
// path line opens.
const char *loading_base_name = nullptr;

// Set when a path line's log file could not be opened: the rest of the
// file is not read, and the module ends.
bool log_file_failed = false;

const char *open_work_path_log(const char *)
{
    if (open_log_file(setting_text(settings.work_path), loading_base_name) == 0) {
        log_file_failed = true;
        return nullptr;
    }
    return setting_text(settings.work_path);
}

const char *set_level_from_value(const char *value)
{
    set_log_level_word(value);
    return value;
}

const char *set_debug_level(const char *)
{
    set_log_level_word("debug");
    return "debug";
}

const char *clear_shadow(const char *value)
{
    if (same_text(value, "false") == 0 || same_text(value, "FALSE") == 0)
        settings.shadow = false;
    return nullptr;
}

const char *set_log_passwords(const char *value)
{
    if (same_text(value, "true") != 0 && same_text(value, "TRUE") != 0)
        return nullptr;
    settings.log_passwords = true;
    return value;
}

// An octal mode such as 0750; anything else keeps the mode as it was.
const char *set_home_mode(const char *value)
{
    unsigned mode = 0;
    const char *end = value + std::strlen(value);
    auto [stop, error] = std::from_chars(value, end, mode, 8);
    if (value == end || stop != end || error != std::errc() || mode > HOME_MODE_MAX) {
        log_error("Invalid home_mode {%s}, keeping %04o", value, settings.home_mode);
        return nullptr;
    }
    settings.home_mode = mode;
    return value;
}

// One configuration key: the text it stores, what else it does (returning
// the text for its trace line, or none for no line) and its trace line.
struct KeyRule {
    const char *key;
    SettingText Settings::*field;
    const char *(*action)(const char *value);
    const char *trace;
};

// Compared in this order.
constexpr KeyRule KEY_TABLE[] = {
    {"path", &Settings::work_path, open_work_path_log, "Workpath {%s}"},
    {"log", nullptr, set_level_from_value, "Logging set to {%s}"},
    {"group", &Settings::group, nullptr, "Group for add {%s}"},
    {"script_path", &Settings::script_path, nullptr, "Path to scripts {%s}"},
    {"host", &Settings::host, nullptr, "Host computer {%s}"},
    {"password_file", &Settings::password_file, nullptr, "Password file {%s}"},
    {"base_uid", &Settings::base_uid, nullptr, "Base UID for user creation = %s"},
    {"uname", &Settings::uname, nullptr, "Default name for new users = %s"},
    {"debug", nullptr, set_debug_level, "Logging set to {%s}"},
    {"home_path", &Settings::home_path, nullptr, "Default home {%s}"},
    {"script", &Settings::script, nullptr, "Default script / shell {%s}"},
    {"shell", &Settings::script, nullptr, "Default script / shell {%s}"},
    {"shadow", nullptr, clear_shadow, nullptr},
    {"shadow_file", &Settings::shadow_file, nullptr, "Shadow file[%s]"},
    {"sp_expire", &Settings::sp_expire, nullptr, "Shadow password expires[%s]"},
    {"sp_min", &Settings::sp_min, nullptr, "Shadow minimum wait for [%s] days before change"},
    {"sp_max", &Settings::sp_max, nullptr, "Shadow maximum must change after [%s] days"},
    {"sp_warn", &Settings::sp_warn, nullptr, "Shadow warning [%s] days before expiry"},
    {"sp_inact", &Settings::sp_inact, nullptr,
     "Shadow [%s] days after account expires, it is disabled"},
    {"log_passwords", nullptr, set_log_passwords, "WARNING Log passwords set to true"},
    {"account_db", &Settings::account_db, nullptr, "Account database {%s}"},
    {"home_mode", nullptr, set_home_mode, "Home directory mode {%s}"},
    {"account_service", &Settings::account_service, nullptr, "Account service {%s}"},
    {"ldap_uri", &Settings::ldap_uri, nullptr, "Directory servers {%s}"},
    {"ldap_user_base", &Settings::ldap_user_base, nullptr, "Directory accounts under {%s}"},
    {"ldap_group_base", &Settings::ldap_group_base, nullptr, "Directory groups under {%s}"},
    {"ldap_bind_dn", &Settings::ldap_bind_dn, nullptr, "Directory service identity {%s}"},
    {"ldap_bind_password_file", &Settings::ldap_bind_password_file, nullptr,
     "Directory service password file {%s}"},
    {"ldap_tls", &Settings::ldap_tls, nullptr, "Directory TLS {%s}"},
    {"ldap_ca_file", &Settings::ldap_ca_file, nullptr, "Directory CA file {%s}"},
    {"ldap_timeout", &Settings::ldap_timeout, nullptr, "Directory timeout {%s} seconds"},
    {"ldap_schema", &Settings::ldap_schema, nullptr, "Directory schema {%s}"},
    {"ldap_policy_dn", &Settings::ldap_policy_dn, nullptr, "Directory policy entry {%s}"},
};

const KeyRule *find_key(const char *key)
{
    for (const KeyRule &rule : KEY_TABLE)
        if (same_text(key, rule.key) == 0)
            return &rule;
    return nullptr;
}

void apply_key(const KeyRule &rule, const char *value)
{
    if (rule.field != nullptr)
        settings.*rule.field = value;
    const char *trace_value = rule.action ? rule.action(value) : value;
    if (rule.trace != nullptr && trace_value != nullptr)
        log_debug(rule.trace, trace_value);
}

// <key>[<blank><value>]: the key is the first word; the value is the rest of
// the line after the one character that ends the key, without its line end
// and trailing blanks.
void read_line(char *line)
{
    char *key = line + std::strspn(line, BLANKS);
    if (*key == '\0')
        return;
    char *key_end = key + std::strcspn(key, BLANKS);
    char *value = *key_end == '\0' ? key_end : key_end + 1;
    *key_end = '\0';
    value[std::strcspn(value, "\r\n")] = '\0';
    std::size_t length = std::strlen(value);
    while (length > 0 && std::strchr(BLANKS, value[length - 1]) != nullptr)
        value[--length] = '\0';
    const KeyRule *rule = find_key(key);
    if (rule != nullptr)
        apply_key(*rule, value);
}

void read_file(std::FILE *file)
{
    char line[CONFIG_LINE_MAX];
    while (!log_file_failed && std::fgets(line, sizeof line, file) != nullptr)
        read_line(line);
    traced_fclose(file);
    if (!settings.group)
        settings.group = DEFAULT_GROUP;
    if (!settings.uname) {
        char uname[64];
        std::snprintf(uname, sizeof uname, "%s %s user", PRODUCT_NAME, VERSION_TEXT);
        settings.uname = uname;
    }
}

void system_directory(char *directory)
{
    auto wide = std::make_unique<WCHAR[]>(SYSTEM_DIRECTORY_WIDE_MAX);
    // A result of the buffer's size or more is the size it would need.
    UINT length = GetSystemDirectoryW(wide.get(), SYSTEM_DIRECTORY_WIDE_MAX);
    if (length == 0 || length >= SYSTEM_DIRECTORY_WIDE_MAX) {
        copy_bounded(directory, DEFAULT_SYSTEM_DIRECTORY, CANDIDATE_MAX - 1);
        log_debug("Cannot get system directory, using default {%s}", directory);
    } else if (WideCharToMultiByte(CP_ACP, 0, wide.get(), -1, directory, CANDIDATE_MAX - 1,
                                   nullptr, nullptr) == 0) {
        copy_bounded(directory, DEFAULT_SYSTEM_DIRECTORY, CANDIDATE_MAX - 1);
        log_debug("Conversion error on system directory, using default {%s}", directory);
    }
}

void system_candidate(char *candidate)
{
    char directory[CANDIDATE_MAX];
    system_directory(directory);
    std::size_t length = std::strlen(directory);
    bool has_separator =
        length > 0 && (directory[length - 1] == '\\' || directory[length - 1] == '/');
    copy_bounded(candidate, directory, CANDIDATE_MAX - 1);
    if (!has_separator) {
        const char separator[2] = {PATH_SEPARATOR, '\0'};
        append_bounded(candidate, separator, CANDIDATE_MAX - 1);
    }
    append_bounded(candidate, CONFIG_FILE_NAME, CANDIDATE_MAX - 1);
}

// Opens candidate for reading; on failure logs why and returns the error.
std::FILE *open_candidate(const char *candidate, int &error)
{
    std::FILE *file = traced_fopen(candidate, "r");
    error = errno;
    if (file != nullptr)
        log_debug("Opened [%s]", candidate);
    else
        log_debug("Unable to open {%s,%s}", candidate, std::strerror(error));
    return file;
}

}  // namespace

int load_configuration(const char *work_path, const char *base_name)
{
    char file_name[CANDIDATE_MAX];
    copy_bounded(file_name, base_name, CANDIDATE_MAX - 1);
    if (std::strchr(file_name, '.') == nullptr)
        append_bounded(file_name, ".ini", CANDIDATE_MAX - 1);

    // join_path's result area is reused by the log file's opening.
    char first[CANDIDATE_MAX];
    copy_bounded(first, join_path(work_path, file_name), CANDIDATE_MAX - 1);
    int error = 0;
    std::FILE *file = open_candidate(first, error);
    const char *opened = first;
    char second[CANDIDATE_MAX];
    if (file == nullptr) {
        system_candidate(second);
        file = open_candidate(second, error);
        if (file == nullptr) {
            reply_negative("-DEAD Unable to open {%s} or {%s,%s}", first, second,
                           std::strerror(error));
            return 0;
        }
        opened = second;
    }
    configuration_file_path = opened;
    loading_base_name = base_name;
    log_file_failed = false;
    read_file(file);
    loading_base_name = nullptr;
    return log_file_failed ? -1 : 1;
}

void free_configuration()
{
    for (SettingText *text :
         {&settings.work_path, &settings.group, &settings.uname, &settings.host,
          &settings.script_path, &settings.password_file, &settings.base_uid,
          &settings.home_path, &settings.script, &settings.shadow_file, &settings.sp_expire,
          &settings.sp_min, &settings.sp_max, &settings.sp_warn, &settings.sp_inact,
          &settings.account_db, &settings.account_service, &settings.ldap_uri,
          &settings.ldap_user_base, &settings.ldap_group_base, &settings.ldap_bind_dn,
          &settings.ldap_bind_password_file, &settings.ldap_tls, &settings.ldap_ca_file,
          &settings.ldap_timeout, &settings.ldap_schema, &settings.ldap_policy_dn})
        text->reset();
}
