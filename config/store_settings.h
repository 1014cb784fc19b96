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

// Chooses the store that account_service names (sqlite when it is absent).
// 1; 2, with no reply, when this program does not link that store and the
// program beside it that does is account_store_program(); or 0 after the
// "-DEAD" reply that names an unknown value. After 0 or 2 the account
// commands fail while help, version and quit go on working.
int configure_account_store();

// The program that links the configured store, when that store may live in
// a program of its own: lodgate-ldap for ldap (libldap needs a shared
// program, and the module is static so that SQLite sites never load it);
// nullptr for the stores every program links.
const char *account_store_program();
