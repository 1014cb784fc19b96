// The directory store's figures, against a real slapd started for the run:
// a check (module per login and over one pipe) beside binds as the same
// user, a lookup beside ldapsearch of the same entry, and whether a failed
// check tells an unknown name from a wrong password by its time.
//   directory_bench <lodgate> <work dir> [--smoke]
#include <ldap.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_process.h"
#include "bench/bench_table.h"
#include "ldapstore/ldap_store.h"
#include "platform/account_service.h"
#include "platform/account_stores.h"
#include "tests/ldap/slapd_fixture.h"

namespace {

const char USER[] = "bench";
const char PASSWORD[] = "Bench-Directory-9";

struct Site {
    std::unique_ptr<Slapd> server;
    StoreSettings store;
    std::string lodgate;
    std::string work;
    std::string user_dn;
    int runs = 30;
};

// fail() ends the program with exit(), past every destructor: the server
// is stopped from here too, so that no run leaves a slapd behind.
Slapd *started_server = nullptr;

void stop_started_server()
{
    if (started_server != nullptr)
        started_server->stop();
}

std::string people(const Site &site)
{
    return site.store.ldap.user_base;
}

void set_up(Site &site)
{
    site.server = start_slapd();
    started_server = site.server.get();
    std::atexit(stop_started_server);
    if (site.server == nullptr || !add_store_tree(*site.server, "ou=bench"))
        fail("slapd did not start (is the slapd package installed?)");
    site.store = slapd_store_settings(*site.server, site.server->uri, "ou=bench");
    site.user_dn = std::string("uid=") + USER + "," + people(site);
    std::string configuration = site.work + "/lodgate.ini";
    write_file(configuration, module_configuration(site.store.ldap));
    if (!file_exists(configuration))
        fail("cannot write " + configuration);
    Finished made = run_process({site.lodgate, "set", USER, PASSWORD}, site.work);
    if (!starts_with(made.output, "+OK"))
        fail("set through the module answered " + made.output);
}

Spread processes(const Site &site, const std::vector<std::string> &arguments, const char *want)
{
    std::vector<double> times;
    for (int i = 0; i < site.runs; ++i) {
        Finished done = run_process(arguments, site.work);
        if (want != nullptr && done.output.find(want) == std::string::npos)
            fail(arguments[0] + " answered " + done.output);
        times.push_back(done.microseconds);
    }
    return spread_of(times);
}

Spread pipe_checks(const Site &site, int count)
{
    Child child;
    start_child(child, {site.lodgate}, site.work);
    std::string line = std::string("check ") + USER + " " + PASSWORD + "\n";
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        clock_type::time_point start = clock_type::now();
        write_all(child.to_child, line.data(), line.size());
        if (!starts_with(expect_line(child), "+OK"))
            fail("a check over the pipe failed");
        times.push_back(since_us(start));
    }
    return spread_of(times);
}

// The floor of a check over a pipe: the same user's simple bind on one open
// connection, the server's hash and a round trip.
Spread binds_on_one_connection(const Site &site, int count)
{
    LDAP *ld = nullptr;
    int version = LDAP_VERSION3;
    if (ldap_initialize(&ld, site.store.ldap.uri.c_str()) != LDAP_SUCCESS)
        fail("cannot reach slapd");
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    berval credentials{std::strlen(PASSWORD), const_cast<char *>(PASSWORD)};
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        clock_type::time_point start = clock_type::now();
        if (ldap_sasl_bind_s(ld, site.user_dn.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr,
                             nullptr, nullptr) != LDAP_SUCCESS)
            fail("the user's bind failed");
        times.push_back(since_us(start));
    }
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    return spread_of(times);
}

// Unknown names and wrong passwords in turns, in a random order, through
// the account service of this process on the directory store.
Row timing_row(const Site &site, int trials)
{
    link_account_store(&LDAP_BACKEND);
    StoreSettingFault fault;
    if (choose_account_store("ldap", site.store, fault) != NERR_Success)
        fail("the directory store did not open");
    const char16_t *names[] = {u"nobody-here", u"bench"};
    std::vector<int> order;
    for (int i = 0; i < trials; ++i)
        order.insert(order.end(), {0, 1});
    std::shuffle(order.begin(), order.end(), std::mt19937(12345));
    std::vector<double> times[2];
    for (int kind : order) {
        HANDLE token = nullptr;
        clock_type::time_point start = clock_type::now();
        if (LogonUserW(names[kind], nullptr, u"wrong-password", LOGON32_LOGON_INTERACTIVE,
                       LOGON32_PROVIDER_DEFAULT, &token))
            fail("a failed logon was accepted");
        times[kind].push_back(since_us(start));
    }
    Spread unknown = spread_of(times[0]);
    Spread wrong = spread_of(times[1]);
    Row row = at_most("directory check, unknown name, " + std::to_string(trials) + " tries", unknown,
                      "ms", 1e-3, wrong.median, 1.05);
    row.floor = show(wrong, "ms", 1e-3) + " wrong password";
    row.target = "within 5%";
    row.met = std::fabs(row.ratio - 1.0) <= 0.05;
    return row;
}

std::vector<Row> directory_rows(Site &site, bool smoke)
{
    const LdapSettings &ldap = site.store.ldap;
    const std::string whoami = "/usr/bin/ldapwhoami";
    Spread cold = processes(site, {site.lodgate, "check", USER, PASSWORD}, "+OK");
    Spread bind = processes(site, {whoami, "-x", "-H", ldap.uri, "-D", site.user_dn, "-w", PASSWORD},
                            "dn:");
    int in_row = smoke ? 20 : 200;
    Spread pipe = pipe_checks(site, in_row);
    Spread binds = binds_on_one_connection(site, in_row);
    Spread lookup = processes(site, {site.lodgate, "lookup", USER}, "+OK");
    Spread search = processes(site, {"/usr/bin/ldapsearch", "-LLL", "-x", "-H", ldap.uri, "-D",
                                     ldap.bind_dn, "-w", SLAPD_SERVICE_PASSWORD, "-b", people(site),
                                     std::string("(uid=") + USER + ")"},
                              "dn:");
    std::vector<Row> rows = {
        at_most("directory check, module per login (floor: ldapwhoami)",
                cold, "ms", 1e-3, bind.median, 0),
        at_most("directory check over one pipe, " + std::to_string(in_row) +
                    " in a row (floor: binds on one connection)",
                pipe, "ms", 1e-3, binds.median, 0),
        at_most("directory lookup, command line (floor: ldapsearch)",
                lookup, "ms", 1e-3, search.median, 0),
    };
    rows.push_back(timing_row(site, smoke ? 20 : 200));
    return rows;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        fail("usage: directory_bench <lodgate> <work dir> [--smoke]");
    Site site;
    char *lodgate = realpath(argv[1], nullptr);
    if (lodgate == nullptr)
        fail(std::string("no module at ") + argv[1]);
    site.lodgate = lodgate;
    std::free(lodgate);
    site.work = argv[2];
    if (mkdir(argv[2], 0700) != 0 && errno != EEXIST)
        fail(std::string("cannot make ") + argv[2]);
    bool smoke = argc > 3 && std::strcmp(argv[3], "--smoke") == 0;
    if (smoke)
        site.runs = 5;
    set_up(site);
    std::printf("\nThe directory store against slapd on loopback (median [min-max] of %d runs):\n",
                site.runs);
    int targets = 0;
    int missed = print_rows(directory_rows(site, smoke), "floor", targets);
    std::printf("\n%d of %d directory targets met.\n", targets - missed, targets);
    return 0;
}
