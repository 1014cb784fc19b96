#include "config/store_settings.h"

#include <gtest/gtest.h>

#include "config/settings.h"
#include "tests/process_state.h"
#include "tests/scripted_account_service.h"
#include "tests/test_support.h"

namespace {

struct StoreSettingsTest : testing::Test {
    void SetUp() override { reset_process_state(); }
    void TearDown() override { reset_process_state(); }
};

}  // namespace

TEST_F(StoreSettingsTest, ConfiguredPathFollowsSettingThenConfigurationDirectory)
{
    settings.account_db = "/srv/mail/accounts.db";
    configuration_file_path = "/etc/lodgate/lodgate.ini";
    EXPECT_EQ(account_db_configured_path(), "/srv/mail/accounts.db");

    settings.account_db = std::string();
    EXPECT_EQ(account_db_configured_path(), "/etc/lodgate/lodgate.db");
    settings.account_db.reset();
    EXPECT_EQ(account_db_configured_path(), "/etc/lodgate/lodgate.db");
    configuration_file_path = "/lodgate.ini";
    EXPECT_EQ(account_db_configured_path(), "/lodgate.db");
    configuration_file_path = "lodgate.ini";
    EXPECT_EQ(account_db_configured_path(), "lodgate.db");
    configuration_file_path.clear();
    EXPECT_EQ(account_db_configured_path(), "lodgate.db");
}

TEST_F(StoreSettingsTest, AccountServiceChoosesTheStoreOrIsDead)
{
    configuration_file_path = "/etc/lodgate/lodgate.ini";
    EXPECT_EQ(configure_account_store(), 1);
    EXPECT_EQ(account_script.chosen_store, "sqlite");
    EXPECT_EQ(account_script.store_settings.account_db, "/etc/lodgate/lodgate.db");
    settings.account_service = "oracle";
    testing::internal::CaptureStdout();
    EXPECT_EQ(configure_account_store(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "-DEAD Unknown account_service {oracle}\n");
}

TEST_F(StoreSettingsTest, DirectoryKeysReachTheStoreThatAnotherProgramLinks)
{
    settings.account_service = "ldap";
    settings.ldap_uri = "ldap://a/ ldap://b/";
    settings.ldap_bind_password_file = "/etc/lodgate/bind";
    settings.ldap_timeout = "0";
    testing::internal::CaptureStdout();
    EXPECT_EQ(configure_account_store(), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_STREQ(account_store_program(), "lodgate-ldap");
    const LdapSettings &ldap = account_script.store_settings.ldap;
    EXPECT_EQ(ldap.uri, "ldap://a/ ldap://b/");
    EXPECT_EQ(ldap.bind_password_file, "/etc/lodgate/bind");
    EXPECT_EQ(ldap.tls, "starttls");
    EXPECT_EQ(ldap.timeout_seconds, 5);
    settings.ldap_timeout = "12";
    configure_account_store();
    EXPECT_EQ(account_script.store_settings.ldap.timeout_seconds, 12);
}
