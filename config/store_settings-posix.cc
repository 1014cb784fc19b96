#include "config/store_settings.h"

#include <charconv>

#include "config/settings.h"
#include "text/text.h"
#include "log/trace_log.h"
#include "stores/account_stores.h"
#include "protocol/replies.h"

namespace {

// Stores whose library only a shared program can load, and that program.
struct StoreProgram {
    const char *service;
    const char *program;
};
constexpr StoreProgram STORE_PROGRAMS[] = {{"ldap", "lodgate-ldap"}};

const char *configured_service()
{
    return settings.account_service ? settings.account_service->c_str()
                                    : DEFAULT_ACCOUNT_SERVICE;
}

void copy_setting(const SettingText &value, std::string &field)
{
    if (value)
        field = *value;
}

// Seconds from 1 to an hour; anything else keeps the default.
int timeout_setting(int fallback)
{
    if (!settings.ldap_timeout)
        return fallback;
    const std::string &text = *settings.ldap_timeout;
    int seconds = 0;
    auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || stop != text.data() + text.size() || seconds < 1 ||
        seconds > 3600) {
        log_error("Invalid ldap_timeout {%s}, keeping %d seconds", text.c_str(), fallback);
        return fallback;
    }
    return seconds;
}

LdapSettings ldap_settings()
{
    LdapSettings ldap;
    copy_setting(settings.ldap_uri, ldap.uri);
    copy_setting(settings.ldap_user_base, ldap.user_base);
    copy_setting(settings.ldap_group_base, ldap.group_base);
    copy_setting(settings.ldap_bind_dn, ldap.bind_dn);
    copy_setting(settings.ldap_bind_password_file, ldap.bind_password_file);
    copy_setting(settings.ldap_tls, ldap.tls);
    copy_setting(settings.ldap_ca_file, ldap.ca_file);
    copy_setting(settings.ldap_schema, ldap.schema);
    copy_setting(settings.ldap_policy_dn, ldap.policy_dn);
    ldap.timeout_seconds = timeout_setting(ldap.timeout_seconds);
    return ldap;
}

}  // namespace

std::string account_db_configured_path()
{
    if (settings.account_db && !settings.account_db->empty())
        return *settings.account_db;
    std::string::size_type slash = configuration_file_path.rfind('/');
    if (slash == std::string::npos)
        return ACCOUNT_DB_FILE_NAME;
    return configuration_file_path.substr(0, slash + 1) + ACCOUNT_DB_FILE_NAME;
}

StoreSettings store_settings()
{
    StoreSettings store;
    store.account_db = account_db_configured_path();
    store.ldap = ldap_settings();
    return store;
}

const char *account_store_program()
{
    for (const StoreProgram &entry : STORE_PROGRAMS)
        if (same_text(configured_service(), entry.service) == 0)
            return entry.program;
    return nullptr;
}

int choose_configured_store(std::string &refusal)
{
    refusal.clear();
    const char *name = configured_service();
    StoreSettingFault fault;
    DWORD opened = choose_account_store(name, store_settings(), fault);
    if (opened == NERR_Success)
        return STORE_READY;
    if (opened == ERROR_INVALID_NAME && account_store_program() != nullptr)
        return STORE_IN_OTHER_PROGRAM;
    if (opened == ERROR_INVALID_NAME)
        fault = StoreSettingFault{"Unknown", "account_service", name, ""};
    else if (fault.key == nullptr)
        fault = StoreSettingFault{"Cannot open", "account_service", name, ""};
    refusal = std::string(fault.problem) + " " + fault.key + " {" + fault.value + "}";
    if (!fault.detail.empty())
        refusal += ": " + fault.detail;
    return STORE_REFUSED;
}

int configure_account_store()
{
    std::string refusal;
    int chosen = choose_configured_store(refusal);
    if (chosen == STORE_REFUSED)
        reply_negative("-DEAD %s", refusal.c_str());
    return chosen;
}
