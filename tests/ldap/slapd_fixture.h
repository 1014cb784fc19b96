// Real OpenLDAP servers for the directory store's tests: slapd as a child
// process on a free loopback port with a generated configuration, killed
// by its pid when the record goes.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/account_backend.h"
#include "tests/test_support.h"

constexpr const char SLAPD_SUFFIX[] = "dc=lodgate,dc=test";
constexpr const char SLAPD_ROOT_DN[] = "cn=admin,dc=lodgate,dc=test";
constexpr const char SLAPD_ROOT_PASSWORD[] = "root-secret";
constexpr const char SLAPD_SERVICE_DN[] = "cn=lodgate,dc=lodgate,dc=test";
constexpr const char SLAPD_SERVICE_PASSWORD[] = "service-secret";
constexpr const char SLAPD_POLICY_DN[] = "cn=default,dc=lodgate,dc=test";

struct SlapdOptions {
    std::string provider_uri;  // set: a read-only syncrepl consumer of it
    bool forward_failures = false;  // a consumer's failed binds counted by its provider
    bool tls = false;          // also ldaps://, with a certificate from ca
    bool wrong_name = false;   // a certificate for another host
};

struct Slapd {
    TempDir dir;
    int port = 0;
    pid_t pid = -1;
    std::string uri;       // ldap://127.0.0.1:port/
    std::string tls_uri;   // ldaps://127.0.0.1:another port/
    std::string ca_file;

    ~Slapd() { stop(); }
    void stop();
};

// Starts a server, with the service identity and the policy entry unless it
// is a consumer; nullptr when it does not answer.
std::unique_ptr<Slapd> start_slapd(const SlapdOptions &options = {});

// Starts a server on a database that slapadd loaded from ldif_file (after
// the suffix, the service identity and the policy entry) before the server
// runs: a large tree loads in seconds, where adds through the server take
// minutes. nullptr when loading or starting fails.
std::unique_ptr<Slapd> start_loaded_slapd(const std::string &ldif_file);

// Runs an ldap-utils program (ldapadd, ldapsearch, ldapwhoami) with input
// on its standard input; its exit status, with what it printed in output.
int run_ldap_tool(const std::string &command, const std::string &input, std::string *output);
// ldapadd or ldapmodify as the root identity.
int ldap_root_change(const Slapd &server, const char *tool, const std::string &ldif);

// Settings for a store over people and groups under base (an RDN below the
// suffix holding ou=people and ou=groups), reaching uri.
StoreSettings slapd_store_settings(const Slapd &server, const std::string &uri,
                                   const std::string &base);
// A module's lodgate.ini for the directory store with these settings.
std::string module_configuration(const LdapSettings &ldap);

// Adds base with its people, groups and built-in groups, and resets the
// policy.
bool add_store_tree(const Slapd &server, const std::string &base);

// A listener on 127.0.0.1 that completes connections and never answers;
// its socket, with its port in port.
int silent_listener(int &port);
