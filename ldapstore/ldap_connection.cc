#include "ldapstore/ldap_connection.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include <ldap.h>
#include <sasl/sasl.h>

#include "ldapstore/ldap_result.h"
#include "log/trace_log.h"

namespace {

struct ConnectionState {
    std::vector<std::string> uris;
    std::string bind_dn;
    std::string password;
    std::string tls;
    std::string ca_file;
    int timeout = 5;
};
ConnectionState state;
// What the last failed connection met, for the administrator.
std::string last_fault;

void wipe(std::string &text)
{
    volatile char *bytes = text.data();
    for (std::size_t i = 0; i < text.size(); ++i)
        bytes[i] = 0;
    text.clear();
}

std::vector<std::string> split_uris(const std::string &text)
{
    std::vector<std::string> uris;
    std::istringstream words(text);
    for (std::string uri; words >> uri;)
        uris.push_back(uri);
    return uris;
}

bool starts_with(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// Plain connections are allowed only where nothing crosses a network.
bool is_local_uri(const std::string &uri)
{
    if (starts_with(uri, "ldapi://"))
        return true;
    static const char *const LOOPBACK[] = {"ldap://127.", "ldap://localhost", "ldap://[::1]"};
    for (const char *prefix : LOOPBACK)
        if (starts_with(uri, prefix))
            return true;
    return false;
}

DWORD configuration_fault(StoreSettingFault &fault, StoreSettingFault found)
{
    fault = std::move(found);
    log_error("directory settings: %s %s {%s}%s%s", fault.problem, fault.key,
              fault.value.c_str(), fault.detail.empty() ? "" : ": ", fault.detail.c_str());
    return NERR_InternalError;
}

DWORD read_password_file(const std::string &path, std::string &password,
                         StoreSettingFault &fault)
{
    constexpr const char KEY[] = "ldap_bind_password_file";
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return configuration_fault(fault, {"Unreadable", KEY, path, std::strerror(errno)});
    // Every setting line goes to the trace log, so the password lives in a
    // file; one that others can read would give it away all the same.
    if ((info.st_mode & 077) != 0)
        return configuration_fault(fault, {"Unreadable", KEY, path,
                                           "group or others have access to it"});
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return configuration_fault(fault, {"Unreadable", KEY, path, std::strerror(errno)});
    std::getline(file, password, '\n');
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return NERR_Success;
}

// The largest reply message read: a group entry listing about a million
// members. A length field above it is refused before anything is kept for
// it, so that a hostile server cannot make this process reserve 2 GiB.
constexpr ber_len_t REPLY_MESSAGE_MAX = 16 * 1024 * 1024;

// libldap waits for a reply with a timed poll, but reads the rest of a
// message that has begun in a blocking loop: a server that stops mid-message
// held that read forever. Non-blocking, a read takes what has come and the
// wait goes back to the poll, which keeps the timeout. Done once the TLS
// handshake is over, since it leaves the socket blocking.
void bound_reads(LDAP *ld)
{
    Sockbuf *socket = nullptr;
    if (ldap_get_option(ld, LDAP_OPT_SOCKBUF, &socket) != LDAP_OPT_SUCCESS || socket == nullptr)
        return;
    ber_len_t most = REPLY_MESSAGE_MAX;
    ber_sockbuf_ctrl(socket, LBER_SB_OPT_SET_MAX_INCOMING, &most);
    ber_sockbuf_ctrl(socket, LBER_SB_OPT_SET_NONBLOCK, reinterpret_cast<void *>(1));
}

void set_timeouts(LDAP *ld)
{
    struct timeval limit {state.timeout, 0};
    ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &limit);
    ldap_set_option(ld, LDAP_OPT_TIMEOUT, &limit);
    ldap_set_option(ld, LDAP_OPT_TIMELIMIT, &state.timeout);
}

void set_options(LDAP *ld)
{
    int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    // libldap would chase a referral with an anonymous bind.
    ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    set_timeouts(ld);
    if (state.tls == "none")
        return;
    int demand = LDAP_OPT_X_TLS_DEMAND;
    ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
    if (!state.ca_file.empty())
        ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTFILE, state.ca_file.c_str());
    int server_context = 0;
    ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &server_context);
}

std::string diagnostic(LDAP *ld)
{
    char *text = nullptr;
    ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &text);
    std::string message = text != nullptr ? text : "";
    ldap_memfree(text);
    return message;
}

// Sets tls_refused when the server answered but its certificate or its TLS
// was refused: a fault of the configuration, not of the network.
void check_tls(LDAP *ld, int result, bool &tls_refused)
{
    // libldap leaves no message when the connection itself failed, and
    // one (if only "unknown error code") when the handshake did.
    tls_refused = result == LDAP_CONNECT_ERROR || !diagnostic(ld).empty();
}

// libldap starts Cyrus SASL, which loads every mechanism plugin it finds
// (OpenSSL and Berkeley DB among their libraries): about a third of a
// lookup's processor time, for binds that are always simple. Pointed at a
// path that only root could turn into a directory, it loads none; this
// must come before the first libldap call.
void load_no_sasl_plugins()
{
    static char NO_PLUGINS[] = "/dev/null";
    sasl_set_path(SASL_PATH_TYPE_PLUGIN, NO_PLUGINS);
}

// LDAP_SUCCESS, or the result that stopped this server.
int open_one(LdapLink &link, const std::string &uri, bool bind_service, bool &tls_refused)
{
    tls_refused = false;
    int result = ldap_initialize(&link.ld, uri.c_str());
    if (result != LDAP_SUCCESS)
        return result;
    set_options(link.ld);
    link.server = uri;
    bool start_tls = state.tls == "starttls" && starts_with(uri, "ldap://");
    result = ldap_connect(link.ld);
    if (result != LDAP_SUCCESS) {
        if (starts_with(uri, "ldaps://") && result != LDAP_TIMEOUT)
            check_tls(link.ld, result, tls_refused);
        return result;
    }
    if (start_tls && (result = ldap_start_tls_s(link.ld, nullptr, nullptr)) != LDAP_SUCCESS) {
        if (result != LDAP_TIMEOUT && result != LDAP_SERVER_DOWN)
            tls_refused = true;
        return result;
    }
    bound_reads(link.ld);
    if (!bind_service)
        return result;
    berval credentials{static_cast<ber_len_t>(state.password.size()), state.password.data()};
    return ldap_sasl_bind_s(link.ld, state.bind_dn.c_str(), LDAP_SASL_SIMPLE, &credentials,
                            nullptr, nullptr, nullptr);
}

}  // namespace

void LdapLink::drop()
{
    if (ld != nullptr)
        ldap_unbind_ext_s(ld, nullptr, nullptr);
    ld = nullptr;
}

DWORD directory_configure(const LdapSettings &settings, StoreSettingFault &fault)
{
    load_no_sasl_plugins();
    directory_forget();
    state.uris = split_uris(settings.uri);
    state.bind_dn = settings.bind_dn;
    state.tls = settings.tls;
    state.ca_file = settings.ca_file;
    state.timeout = settings.timeout_seconds > 0 ? settings.timeout_seconds : 5;
    if (state.uris.empty())
        return configuration_fault(fault, {"Missing", "ldap_uri", settings.uri, ""});
    if (state.tls != "starttls" && state.tls != "ldaps" && state.tls != "none")
        return configuration_fault(fault, {"Unknown", "ldap_tls", state.tls, ""});
    for (const std::string &uri : state.uris) {
        if (state.tls == "ldaps" && !starts_with(uri, "ldaps://") && !starts_with(uri, "ldapi://"))
            return configuration_fault(fault, {"Invalid", "ldap_tls", state.tls,
                                               "it needs ldaps:// URIs, not " + uri});
        if (state.tls == "none" && !is_local_uri(uri))
            return configuration_fault(fault, {"Invalid", "ldap_tls", state.tls,
                                               "it is only for local servers, not " + uri});
    }
    if (!state.ca_file.empty() && ::access(state.ca_file.c_str(), R_OK) != 0)
        return configuration_fault(fault, {"Unreadable", "ldap_ca_file", state.ca_file,
                                           std::strerror(errno)});
    if (settings.bind_password_file.empty())
        return NERR_Success;
    return read_password_file(settings.bind_password_file, state.password, fault);
}

void directory_forget()
{
    wipe(state.password);
    state = ConnectionState{};
}

DWORD directory_connect_link(LdapLink &link, bool bind_service, std::size_t first)
{
    link.drop();
    DWORD status = ERROR_BAD_NETPATH;
    std::string fault;
    for (std::size_t i = first; i < state.uris.size(); ++i) {
        bool tls_refused = false;
        const std::string &uri = state.uris[i];
        int result = open_one(link, uri, bind_service, tls_refused);
        if (result == LDAP_SUCCESS) {
            link.index = i;
            return NERR_Success;
        }
        // log_unreachable reads the errno that the failure left.
        if (!tls_refused && directory_unreachable(result)) {
            log_unreachable(uri, result);
            link.drop();
            continue;
        }
        std::string message = std::string(ldap_err2string(result)) + " " + diagnostic(link.ld);
        if (tls_refused) {
            log_error("directory %s: TLS refused: %s", uri.c_str(), message.c_str());
            status = NERR_InternalError;
            fault = "the directory at " + uri + " refused TLS: " + message;
        } else {
            // A TLS or credential refusal is the configuration's fault; it
            // stays the answer unless a later server serves.
            status = directory_status(result, LdapTarget::BASE, uri.c_str(),
                                      diagnostic(link.ld).c_str());
            fault = "the directory at " + uri + " refused the service: " + message;
        }
        link.drop();
    }
    if (status == ERROR_BAD_NETPATH) {
        fault = "the directory at";
        for (std::size_t i = first; i < state.uris.size(); ++i)
            fault += " " + state.uris[i];
        fault += " does not answer";
    }
    last_fault = fault;
    return status;
}

std::string directory_last_fault()
{
    return last_fault;
}

void log_unreachable(const std::string &server, int result)
{
    // liblber leaves ERANGE when a message's length passed the bound.
    if (result == LDAP_SERVER_DOWN && errno == ERANGE)
        log_error("directory %s: a reply of more than %lu bytes refused", server.c_str(),
                  static_cast<unsigned long>(REPLY_MESSAGE_MAX));
    else
        log_info("directory %s: %s", server.c_str(), ldap_err2string(result));
}

int directory_timeout_seconds()
{
    return state.timeout;
}

std::size_t directory_uri_count()
{
    return state.uris.size();
}
