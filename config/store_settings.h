// The account store's part of the configuration (POSIX): account_service
// names the store, and the store is handed its settings from here, so that
// no store reads the process-wide settings itself.
#pragma once

#include <string>

#include "platform/account_backend.h"

constexpr const char DEFAULT_ACCOUNT_SERVICE[] = "sqlite";

// settings.account_db when it is given and not empty (a relative path is
// taken from the current directory); otherwise lodgate.db in the directory
// of the configuration file that was read, or in the current directory when
// that path has no '/'.
std::string account_db_configured_path();

StoreSettings store_settings();

// What choose_configured_store found.
constexpr int STORE_REFUSED = 0;  // after the "-DEAD" reply naming the setting
constexpr int STORE_READY = 1;
// No reply: this program does not link that store, and the program beside
// it that does is account_store_program().
constexpr int STORE_IN_OTHER_PROGRAM = 2;

// Chooses the store that account_service names (sqlite when it is absent)
// and opens it with its settings. After STORE_REFUSED, refusal names the
// key and its value ("Unknown account_service {oracle}", "Unknown
// ldap_schema {rfc2037}", ...). After anything but STORE_READY every
// account operation fails.
int choose_configured_store(std::string &refusal);

// The same for the module, which answers a refusal with "-DEAD" and its
// text; help, version and quit go on working.
int configure_account_store();

// The program that links the configured store, when that store may live in
// a program of its own: lodgate-ldap for ldap (libldap needs a shared
// program, and the module is static so that SQLite sites never load it);
// nullptr for the stores every program links.
const char *account_store_program();
