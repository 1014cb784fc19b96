// What only a directory store meets: other LDAP tools, replicas, TLS.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "hashing/password_hash.h"
#include "ldapstore/ldap_result.h"
#include "ldapstore/ldap_store.h"
#include "tests/ldap/slapd_fixture.h"
#include "tests/test_hooks.h"

namespace {

const char PASSWORD[] = "Directory-Pass-7";
const AccountBackend &store = LDAP_STORE;

struct OpenStore {
    StoreSettingFault fault;
    DWORD status;
    explicit OpenStore(const StoreSettings &settings) : status(store.open(settings, fault)) {}
    ~OpenStore() { store.close(); }
};

std::unique_ptr<Slapd> server_with_tree(const SlapdOptions &options = {})
{
    std::unique_ptr<Slapd> server = start_slapd(options);
    if (server != nullptr && !add_store_tree(*server, "ou=site"))
        server.reset();
    return server;
}

DWORD insert(const std::string &name)
{
    StoreAccount account;
    account.name = name;
    StorePassword text{PASSWORD, nullptr};
    return store.insert_account(account, text, nullptr);
}

}  // namespace

TEST(LdapStore, EntriesOfOtherToolsAndOfTheStoreInteroperate)
{
    auto server = server_with_tree();
    ASSERT_NE(server, nullptr);
    std::string hash;
    ASSERT_EQ(hash_password(PASSWORD, hash), 0);
    std::string people = std::string("ou=people,ou=site,") + SLAPD_SUFFIX;
    ASSERT_EQ(ldap_root_change(*server, "ldapadd",
                               "dn: uid=tool," + people + "\nobjectClass: inetOrgPerson\n"
                               "uid: tool\ncn: Tool\nsn: Tool\ndescription: from ldapadd\n"
                               "userPassword: {CRYPT}" + hash + "\n\n"),
              0);
    OpenStore open(slapd_store_settings(*server, server->uri, "ou=site"));
    ASSERT_EQ(open.status, NERR_Success);
    std::vector<StoreFact> facts;
    std::string fault;
    EXPECT_EQ(store.check_store(facts, fault), NERR_Success) << fault;
    ASSERT_FALSE(facts.empty());
    EXPECT_EQ(facts.back().value, "lodgateAccount loaded");
    StoreAccount account;
    DWORD error = 0;
    ASSERT_EQ(store.verify_logon("TOOL", PASSWORD, account, error), LogonVerdict::RIGHT);
    EXPECT_EQ(account.comment, std::optional<std::string>("from ldapadd"));
    EXPECT_EQ(account.home_dir, std::nullopt);
    ASSERT_EQ(store.update_account("tool", account, nullptr, nullptr), NERR_Success);

    ASSERT_EQ(insert("made"), NERR_Success);
    std::string out;
    ASSERT_EQ(run_ldap_tool(std::string("ldapsearch -LLL -o ldif-wrap=no -x -H ") + server->uri +
                                " -D " + SLAPD_SERVICE_DN + " -w " + SLAPD_SERVICE_PASSWORD +
                                " -b " + people +
                                " uid=made userPassword | sed -n 's/^userPassword:: //p' | base64 -d",
                            "", &out),
              0);
    EXPECT_EQ(out.rfind("{CRYPT}$y$", 0), 0u) << out;
    EXPECT_EQ(run_ldap_tool("ldapwhoami -x -H " + server->uri + " -D uid=made," + people +
                                " -w " + PASSWORD, "", &out), 0) << out;
    run_ldap_tool("ldapsearch -LLL -x -H " + server->uri + " -b " + people + " uid=made userPassword",
                  "", &out);  // anonymous
    EXPECT_EQ(out.find("userPassword"), std::string::npos) << out;
}

// set replaces a taken name after its first insert is refused, so that
// refusal must come before the hash; and a minimum read before a policy
// write does not judge a password after it.
TEST(LdapStore, TakenNamesCostNoHashAndPolicyWritesCount)
{
    auto server = server_with_tree();
    ASSERT_NE(server, nullptr);
    OpenStore open(slapd_store_settings(*server, server->uri, "ou=site"));
    ASSERT_EQ(open.status, NERR_Success);
    ASSERT_EQ(insert("taken"), NERR_Success);
    long hashed = password_counters.crypt_calls;
    EXPECT_EQ(insert("TAKEN"), NERR_UserExists);
    EXPECT_EQ(password_counters.crypt_calls, hashed);
    std::int64_t minimum = -1;
    ASSERT_EQ(store.read_policy(PolicyKey::MIN_PASSWORD_LENGTH, minimum), NERR_Success);
    ASSERT_EQ(store.write_policy(PolicyKey::MIN_PASSWORD_LENGTH, 30), NERR_Success);
    EXPECT_EQ(insert("fresh"), NERR_PasswordTooShort);
}

TEST(LdapStore, ConsumerRefersWritesAndFailoverReachesTheNextServer)
{
    auto provider = server_with_tree();
    ASSERT_NE(provider, nullptr);
    SlapdOptions replica;
    replica.provider_uri = provider->uri;
    auto consumer = start_slapd(replica);
    ASSERT_NE(consumer, nullptr);
    {
        OpenStore open(slapd_store_settings(*provider, provider->uri, "ou=site"));
        ASSERT_EQ(insert("replicated"), NERR_Success);
    }
    StoreSettings both = slapd_store_settings(*provider, consumer->uri + " " + provider->uri,
                                              "ou=site");
    OpenStore open(both);
    StoreAccount account;
    DWORD status = NERR_UserNotFound;
    for (int i = 0; i < 40 && status != NERR_Success; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        status = store.find_account("replicated", account);
    }
    ASSERT_EQ(status, NERR_Success);
    EXPECT_EQ(insert("on-consumer"), NERR_NotPrimary);

    consumer->stop();
    DWORD error = 0;
    EXPECT_EQ(store.verify_logon("replicated", PASSWORD, account, error), LogonVerdict::RIGHT);
    store.close();
    StoreSettingFault fault;
    ASSERT_EQ(store.open(both, fault), NERR_Success);
    EXPECT_EQ(store.verify_logon("replicated", PASSWORD, account, error), LogonVerdict::RIGHT);
}

TEST(LdapStore, UnansweringServerFailsAfterTheTimeout)
{
    auto server = start_slapd();
    ASSERT_NE(server, nullptr);
    int port = 0;
    int silent = silent_listener(port);
    StoreSettings settings = slapd_store_settings(
        *server, "ldap://127.0.0.1:" + std::to_string(port) + "/", "ou=site");
    settings.ldap.timeout_seconds = 1;
    OpenStore open(settings);
    auto started = std::chrono::steady_clock::now();
    StoreAccount account;
    EXPECT_EQ(store.find_account("anyone", account), ERROR_BAD_NETPATH);
    DWORD error = 0;
    EXPECT_EQ(store.verify_logon("anyone", PASSWORD, account, error), LogonVerdict::STORE_ERROR);
    EXPECT_EQ(error, ERROR_NO_LOGON_SERVERS);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    close(silent);
}

TEST(LdapStore, TlsNeedsACertificateForTheServersName)
{
    SlapdOptions tls;
    tls.tls = true;
    auto server = server_with_tree(tls);
    ASSERT_NE(server, nullptr);
    StoreSettings settings = slapd_store_settings(*server, server->uri, "ou=site");
    settings.ldap.tls = "starttls";
    StoreAccount account;
    {
        OpenStore open(settings);
        ASSERT_EQ(insert("secure"), NERR_Success);
    }
    settings.ldap.tls = "ldaps";
    settings.ldap.uri = server->tls_uri;
    {
        OpenStore open(settings);
        EXPECT_EQ(store.find_account("secure", account), NERR_Success);
    }
    tls.wrong_name = true;
    auto impostor = server_with_tree(tls);
    ASSERT_NE(impostor, nullptr);
    settings = slapd_store_settings(*impostor, impostor->uri, "ou=site");
    for (const char *mode : {"starttls", "ldaps"}) {
        settings.ldap.tls = mode;
        settings.ldap.uri = settings.ldap.tls == "ldaps" ? impostor->tls_uri : impostor->uri;
        OpenStore open(settings);
        EXPECT_EQ(store.find_account("secure", account), NERR_InternalError) << mode;
    }
}

TEST(LdapStore, PasswordFileOthersCanReadIsRefused)
{
    auto server = start_slapd();
    ASSERT_NE(server, nullptr);
    StoreSettings settings = slapd_store_settings(*server, server->uri, "ou=site");
    chmod(settings.ldap.bind_password_file.c_str(), 0644);
    OpenStore open(settings);
    EXPECT_EQ(open.status, NERR_InternalError);
    settings.ldap.uri = "ldap://192.0.2.1/";
    chmod(settings.ldap.bind_password_file.c_str(), 0600);
    EXPECT_EQ(store.open(settings, open.fault), NERR_InternalError);  // no TLS beyond loopback
}

TEST(LdapStore, FailuresOnAConsumerCountTowardTheProvidersLockout)
{
    auto provider = server_with_tree();
    ASSERT_NE(provider, nullptr);
    ASSERT_EQ(ldap_root_change(*provider, "ldapmodify",
                               std::string("dn: ") + SLAPD_POLICY_DN +
                                   "\nchangetype: modify\nreplace: pwdMaxFailure\npwdMaxFailure: 3\n"
                                   "-\nreplace: pwdLockout\npwdLockout: TRUE\n\n"),
              0);
    SlapdOptions replica;
    replica.provider_uri = provider->uri;
    replica.forward_failures = true;
    auto consumer = start_slapd(replica);
    ASSERT_NE(consumer, nullptr);
    StoreSettings on_provider = slapd_store_settings(*provider, provider->uri, "ou=site");
    StoreSettings consumer_first =
        slapd_store_settings(*provider, consumer->uri + " " + provider->uri, "ou=site");
    StoreAccount account;
    DWORD error = 0;
    // Each verdict once the consumer has what the provider holds.
    auto verdict_after_sync = [&](const char *password, LogonVerdict want) {
        LogonVerdict got = LogonVerdict::STORE_ERROR;
        for (int i = 0; i < 40 && got != want; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            got = store.verify_logon("roamer", password, account, error);
        }
        return got;
    };
    {
        OpenStore open(on_provider);
        ASSERT_EQ(insert("roamer"), NERR_Success);
    }
    {
        OpenStore open(consumer_first);
        ASSERT_EQ(verdict_after_sync("wrong-1", LogonVerdict::WRONG), LogonVerdict::WRONG);
        EXPECT_EQ(store.verify_logon("roamer", "wrong-2", account, error), LogonVerdict::WRONG);
    }
    {
        OpenStore open(on_provider);
        EXPECT_NE(store.verify_logon("roamer", "wrong-3", account, error), LogonVerdict::RIGHT);
        EXPECT_NE(store.verify_logon("roamer", PASSWORD, account, error), LogonVerdict::RIGHT);
    }
    OpenStore open(consumer_first);
    EXPECT_EQ(verdict_after_sync(PASSWORD, LogonVerdict::LOCKED), LogonVerdict::LOCKED);
    std::string out;
    std::string bind = " -D uid=roamer,ou=people,ou=site," + std::string(SLAPD_SUFFIX) + " -w " + PASSWORD;
    EXPECT_NE(run_ldap_tool("ldapwhoami -x -H " + consumer->uri + bind, "", &out), 0) << out;
    EXPECT_NE(run_ldap_tool("ldapwhoami -x -H " + provider->uri + bind, "", &out), 0) << out;
}
