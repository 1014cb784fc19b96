// lodgate-admin [-c FILE] [--tsv] [--password-stdin] FAMILY ACTION [WORDS]
#include <cstdarg>
#include <cstring>
#include <string>

#include "admin/admin.h"
#include "config/named_configuration.h"
#include "config/settings.h"
#include "config/store_settings.h"
#include "ldapstore/ldap_store.h"
#include "stores/account_stores.h"
#include "platform/parameter_number.h"
#include "platform/win_types.h"

namespace {

// The base name under which the module looks for its configuration.
constexpr const char PROGRAM_BASE_NAME[] = "lodgate";

constexpr const char USAGE[] =
    "usage: lodgate-admin [-c FILE] [--tsv] [--password-stdin] COMMAND\n"
    "  user list | show NAME | add NAME [home=DIR] [comment=TEXT] | passwd NAME\n"
    "  user disable NAME | enable NAME | unlock NAME | del NAME\n"
    "  group list | add NAME | del NAME | members NAME | join GROUP USER | leave GROUP USER\n"
    "  policy show | set KEY VALUE   (min-length, lockout-threshold,\n"
    "                                 lockout-window, lockout-duration)\n"
    "  import [--min-uid N] [--allow-weak] PASSWD [SHADOW]\n"
    "  check\n";

struct Family {
    const char *name;
    int (*run)(const AdminWords &, const AdminOptions &);
};

constexpr Family FAMILIES[] = {
    {"user", run_user_command},
    {"group", run_group_command},
    {"import", run_import_command},
    {"policy", run_policy_command},
    {"check", run_check_command},
};

struct StatusText {
    unsigned long status;
    const char *text;
};

constexpr StatusText STATUS_TEXTS[] = {
    {NERR_UserNotFound, "no such user"},
    {NERR_UserExists, "a user of that name exists"},
    {NERR_GroupExists, "a group of that name exists"},
    {NERR_GroupNotFound, "no such group"},
    {NERR_PasswordTooShort, "the password is shorter than the policy requires"},
    {NERR_SpeGroupOp, "a built-in group cannot be deleted"},
    {ERROR_NO_SUCH_MEMBER, "no such user"},
    {ERROR_NOT_ENOUGH_MEMORY, "out of memory"},
    {ERROR_ACCESS_DENIED, "access denied by the account store"},
    {NERR_NotPrimary, "the account store is a read-only replica"},
    {ERROR_BAD_NETPATH, "the account store cannot be reached"},
    {ERROR_INVALID_PARAMETER, "an invalid name or value"},
    {NERR_InternalError, "account database error"},
};

struct MemberText {
    unsigned long member;
    const char *text;
};

constexpr MemberText MEMBER_TEXTS[] = {
    {MEMBER_NAME, "the name must be 1 to 256 characters and at most 510 bytes, without spaces, "
                "'\"', '=' or control characters"},
    {MEMBER_PASSWORD, "the password hash costs more than a check may (bcrypt above cost 10, "
                    "sha-crypt above 100000 rounds, yescrypt above 4 times the default, ...)"},
    {MEMBER_PRIV, "the privilege level is not valid"},
    {MEMBER_HOME_DIR, "the home directory must be at most 510 bytes, without '\"' or control "
                    "characters"},
    {MEMBER_COMMENT, "the comment must be at most 510 bytes, without '\"' or control characters"},
    {MEMBER_FLAGS, "the account flags are not valid"},
    {MEMBER_SCRIPT_PATH, "the script path must be at most 510 bytes, without '\"' or control "
                       "characters"},
};

int usage()
{
    std::fputs(USAGE, stderr);
    return ADMIN_USAGE;
}

int open_store(const char *config_file)
{
    bool loaded = config_file != nullptr ? load_named_configuration(config_file)
                                         : load_configuration(nullptr, PROGRAM_BASE_NAME) == 1;
    if (!loaded)
        return admin_fail(ADMIN_FAILED, "cannot read the configuration file %s",
                          config_file != nullptr ? config_file : "lodgate.ini");
    link_account_store(&LDAP_STORE);
    std::string refusal;
    if (choose_configured_store(refusal) != STORE_READY || (admin_store = account_store()) == nullptr)
        return admin_fail(ADMIN_FAILED, "%s", refusal.c_str());
    return ADMIN_OK;
}

}  // namespace

const AccountBackend *admin_store = nullptr;

int admin_fail(int status, const char *format, ...)
{
    std::fputs("lodgate-admin: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    return status;
}

const char *admin_status_text(unsigned long status)
{
    for (const StatusText &row : STATUS_TEXTS)
        if (row.status == status)
            return row.text;
    return "the operation failed";
}

const char *admin_member_text(unsigned long member)
{
    for (const MemberText &row : MEMBER_TEXTS)
        if (row.member == member)
            return row.text;
    return "a value is not valid";
}

int main(int argc, char **argv)
{
    AdminOptions options;
    const char *config_file = nullptr;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (std::strcmp(argv[i], "--tsv") == 0)
            options.tsv = true;
        else if (std::strcmp(argv[i], "--password-stdin") == 0)
            options.password_stdin = true;
        else if (std::strcmp(argv[i], "-c") == 0 && i + 1 < argc)
            config_file = argv[++i];
        else
            return usage();
    }
    if (i >= argc)
        return usage();
    for (const Family &family : FAMILIES) {
        if (std::strcmp(argv[i], family.name) != 0)
            continue;
        AdminWords words(argv + i + 1, argv + argc);
        int status = open_store(config_file);
        if (status != ADMIN_OK)
            return status;
        status = family.run(words, options);
        admin_store->close();
        return status;
    }
    return usage();
}
