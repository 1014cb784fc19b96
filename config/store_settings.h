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
// 1, or 0 after the "-DEAD" reply that names an unknown value; the account
// commands then fail while help, version and quit go on working.
int configure_account_store();
