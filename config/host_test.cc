#include "config/host.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "config/settings.h"
#include "log/trace_log.h"
#include "tests/scripted_account_service.h"

namespace {

class HostTest : public testing::Test {
protected:
    void SetUp() override { reset_command_state(); }
};

std::string host_text(const HostName &host)
{
    return host ? narrow(WideString(host.get())) : "(absent)";
}

TEST_F(HostTest, PlainNameGetsTheUncPrefix)
{
    settings.host = "MAILHUB";
    TraceCapture trace(LOG_INFO);
    EXPECT_EQ(host_text(resolve_host()), "\\\\MAILHUB");
    EXPECT_TRUE(trace.has("INFO", "Host {MAILHUB}"));
    EXPECT_TRUE(trace.has("INFO", "Host does not start with \\\\, so changed to (\\\\MAILHUB)"));
    EXPECT_EQ(trace.text().find("registry"), std::string::npos);
}

TEST_F(HostTest, LeadingBackslashesAreKept)
{
    for (const char *name : {"\\\\MAILHUB", "\\MAILHUB"}) {
        settings.host = name;
        TraceCapture trace(LOG_INFO);
        EXPECT_EQ(host_text(resolve_host()), name);
        EXPECT_TRUE(trace.has("INFO", std::string("Host {") + name + "}"));
        EXPECT_EQ(trace.text().find("does not start"), std::string::npos);
    }
}

TEST_F(HostTest, EmptySettingGivesNoHostWithoutTheRegistry)
{
    settings.host = "";
    TraceCapture trace(LOG_DEBUG);
    EXPECT_EQ(resolve_host(), nullptr);
    EXPECT_EQ(trace.messages(),
              (std::vector<std::string>{
                  "INFO Host - not set by 'host ini setting' and can't find in registry "
                  "(HKEY_LOCAL_MACHINE) (SYSTEM\\CurrentControlSet\\Control\\ComputerName\\"
                  "ComputerName))"}));
}

#ifndef _WIN32
// On POSIX the registry's computer name is the host name.
TEST_F(HostTest, WithoutSettingTheRegistryNamesTheComputer)
{
    settings.host.reset();
    char name[256] = {};
    ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
    TraceCapture trace(LOG_INFO);
    EXPECT_EQ(host_text(resolve_host()), std::string("\\\\") + name);
    EXPECT_EQ(trace.messages(),
              (std::vector<std::string>{
                  "INFO Got host name from registry", std::string("INFO Host {") + name + "}",
                  std::string("INFO Host does not start with \\\\, so changed to (\\\\") + name +
                      ")"}));
}
#endif

TEST_F(HostTest, EveryCallReadsAndLogsAnew)
{
    settings.host = "ONE";
    TraceCapture trace(LOG_INFO);
    EXPECT_EQ(host_text(resolve_host()), "\\\\ONE");
    settings.host = "TWO";
    EXPECT_EQ(host_text(resolve_host()), "\\\\TWO");
    EXPECT_TRUE(trace.has("INFO", "Host {ONE}"));
    EXPECT_TRUE(trace.has("INFO", "Host {TWO}"));
}

TEST_F(HostTest, LongNamesAreBoundedTo511Characters)
{
    settings.host = std::string(600, 'h');
    HostName host = resolve_host();
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host_text(host), "\\\\" + std::string(509, 'h'));
}

TEST_F(HostTest, UnconvertibleNameGivesNoHost)
{
    settings.host = "bad\xff";
    EXPECT_EQ(resolve_host(), nullptr);
}

}  // namespace
