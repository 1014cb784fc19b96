// The accounts that timing_equality refuses, in a store of each kind: an
// account database and a directory (a slapd of its own), each with a
// configuration that a module started for one check reads.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/account_backend.h"

// One way to be refused: a name and a password that the store refuses.
struct RefusalKind {
    const char *label;
    const char *name;
    const char *password;
    bool with_lockout_only = false;  // the store refuses it only while lockout is on
};

struct TimingSite {
    const char *store;        // account_service
    StoreSettings settings;   // for this process's account service
    std::string work;         // holds lodgate.ini for modules started here
    std::vector<RefusalKind> kinds;
    // Sets the store's lockout policy on (a threshold that no run reaches)
    // or off; false when it could not.
    bool (*set_lockout)(TimingSite &site, bool on);
    std::shared_ptr<void> server;  // what the store runs on, kept while the site is
};

// A store's site under work (a directory that exists); false with why set.
bool make_sqlite_site(const std::string &work, TimingSite &site, std::string &why);
bool make_directory_site(const std::string &work, TimingSite &site, std::string &why);
// Makes the site's store this process's account service.
bool choose_site_store(const TimingSite &site);
