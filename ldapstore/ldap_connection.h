// Connections to the directory: the URIs in order, each with the connect
// and operation timeouts, TLS as configured, referrals never chased, and
// the service identity's bind.
#pragma once

#include <cstddef>
#include <string>

#include "platform/account_backend.h"

typedef struct ldap LDAP;

// Owns one connection; unbinds when it goes.
struct LdapLink {
    LDAP *ld = nullptr;
    std::string server;      // the URI it reached
    std::size_t index = 0;   // of that URI in the list

    LdapLink() = default;
    LdapLink(const LdapLink &) = delete;
    LdapLink &operator=(const LdapLink &) = delete;
    ~LdapLink() { drop(); }
    void drop();
};

// Checks the settings (a server; a known TLS mode, none only for ldapi://
// and loopback servers; a readable CA file) and reads the service password
// from its file, which must be readable by its owner alone. Otherwise
// NERR_InternalError after an ERROR line, with the setting in fault; the
// password is never logged.
DWORD directory_configure(const LdapSettings &settings, StoreSettingFault &fault);
// Forgets the settings and wipes the password.
void directory_forget();

// Connects to the first URI from first on that answers, bound as the
// service identity when bind_service. ERROR_BAD_NETPATH when none answers
// in time; NERR_InternalError (logged) for TLS or credential refusals. On
// the link no wait for a reply outlasts the timeout, even mid-message, and
// a reply message over 16 MiB fails as LDAP_SERVER_DOWN before it is read.
DWORD directory_connect_link(LdapLink &link, bool bind_service, std::size_t first = 0);

// Logs why server stopped serving with result (an unreachable one), right
// after the call that failed: a reply refused for its size is an ERROR.
void log_unreachable(const std::string &server, int result);

// The operation timeout, for the calls that wait for one result.
int directory_timeout_seconds();

// What the last failed connection met, in words for the administrator:
// "the directory at <uris> does not answer", a refused TLS or service bind.
std::string directory_last_fault();

// The URIs of the settings, in order.
std::size_t directory_uri_count();
