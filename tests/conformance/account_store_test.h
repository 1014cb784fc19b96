// What every account store must do, written once against the seam's
// record and instantiated for each store with its own fixture.
#pragma once

#include <gtest/gtest.h>

#include "platform/account_backend.h"

struct StoreUnderTest {
    const char *name;
    const AccountBackend *backend;
    // Makes a fresh empty store and the settings that open it; false when
    // it cannot.
    bool (*make)(StoreSettings &settings);
    void (*tear_down)();
    // Why the store cannot meet the named case, or nullptr.
    const char *(*cannot)(const char *case_name);
};

class AccountStoreTest : public ::testing::TestWithParam<const StoreUnderTest *> {
protected:
    const AccountBackend &store() const { return *GetParam()->backend; }
    void SetUp() override;
    void TearDown() override;
    bool opened = false;
};
