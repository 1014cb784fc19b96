// The directory store's figures, against a real slapd started for the run
// on a tree of 100,000 accounts (2,000 in the smoke run) that slapadd loads
// before it starts: a check (module per login, through lodgate-auth, and
// over one pipe) beside binds as the same user, a lookup beside ldapsearch
// of the same entry (processes judged on CPU time, in turns with their
// floors),
// whether a failed check tells an unknown name from a wrong password by its
// time, and the listings (search *, a prefix pattern, lodgate-admin user
// list, the peak memory of search * against a tree of 1,000) beside
// ldapsearch with the paged-results control.
//   directory_bench <lodgate> <work dir> [--smoke]
#include <ldap.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "accountdb/password_hash.h"
#include "bench/bench_process.h"
#include "bench/bench_table.h"
#include "ldapstore/ldap_schema.h"
#include "ldapstore/ldap_store.h"
#include "platform/account_service.h"
#include "platform/account_stores.h"
#include "tests/ldap/slapd_fixture.h"

namespace {

const char USER[] = "bench";
const char PASSWORD[] = "Bench-Directory-9";

// The accounts of the small tree, the floor of the peak memory.
constexpr int SMALL_TREE = 1000;

struct Site {
    std::unique_ptr<Slapd> server;
    StoreSettings store;  // the large tree, ou=bench
    std::string lodgate;
    std::string admin;     // lodgate-admin beside the module
    std::string auth;      // lodgate-auth beside the module
    std::string probe;     // rss_probe beside this program
    std::string work;      // the large tree's lodgate.ini
    std::string small;     // the small tree's, ou=small
    std::string user_dn;
    int accounts = 100000;
    int runs = 30;
    int listing_runs = 5;
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

// A tree as the module makes one: accounts u1 to u<accounts>, every one a
// member of Guests (the group new accounts join), u1 of Administrators.
void write_tree(std::ofstream &out, const std::string &ou, int accounts, const std::string &hash)
{
    std::string base = ou + "," + SLAPD_SUFFIX;
    out << "dn: " << base << "\nobjectClass: organizationalUnit\n\n";
    for (const char *child : {"people", "groups"})
        out << "dn: ou=" << child << "," << base << "\nobjectClass: organizationalUnit\n\n";
    const struct {
        const char *name;
        int gid;
        int members;  // u1 to u<members>
    } groups[] = {{"Administrators", 544, 1}, {"Users", 545, 0}, {"Guests", 546, accounts}};
    for (const auto &group : groups) {
        out << "dn: cn=" << group.name << ",ou=groups," << base
            << "\nobjectClass: posixGroup\ngidNumber: " << group.gid << "\n";
        for (int i = 1; i <= group.members; ++i)
            out << "memberUid: u" << i << "\n";
        out << "\n";
    }
    for (int i = 1; i <= accounts; ++i)
        out << "dn: uid=u" << i << ",ou=people," << base
            << "\nobjectClass: inetOrgPerson\nobjectClass: lodgateAccount\nuid: u" << i
            << "\ncn: u" << i << "\nsn: u" << i << "\nhomeDirectory: /home/u" << i
            << "\ndescription: Account " << i << "\nuserPassword: {CRYPT}" << hash << "\n\n";
}

void write_configuration(const std::string &dir, const LdapSettings &ldap)
{
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        fail("cannot make " + dir);
    std::string configuration = dir + "/lodgate.ini";
    write_file(configuration, module_configuration(ldap));
    if (!file_exists(configuration))
        fail("cannot write " + configuration);
}

void set_up(Site &site)
{
    std::string hash;
    if (hash_password(PASSWORD, hash) != 0)
        fail("cannot hash a password");
    std::string ldif = site.work + "/trees.ldif";
    {
        std::ofstream out(ldif);
        write_tree(out, "ou=bench", site.accounts, hash);
        write_tree(out, "ou=small", SMALL_TREE, hash);
        if (!out.flush())
            fail("cannot write " + ldif);
    }
    site.server = start_loaded_slapd(ldif);
    started_server = site.server.get();
    std::atexit(stop_started_server);
    std::remove(ldif.c_str());
    if (site.server == nullptr)
        fail("slapd did not load or start (is the slapd package installed?)");
    site.store = slapd_store_settings(*site.server, site.server->uri, "ou=bench");
    site.user_dn = std::string("uid=") + USER + "," + people(site);
    write_configuration(site.work, site.store.ldap);
    site.small = site.work + "/small";
    write_configuration(site.small,
                        slapd_store_settings(*site.server, site.server->uri, "ou=small").ldap);
    Finished made = run_process({site.lodgate, "set", USER, PASSWORD}, site.work);
    if (!starts_with(made.output, "+OK"))
        fail("set through the module answered " + made.output);
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

// The attributes a listing reads, for ldapsearch to read the same.
std::vector<std::string> listed_attributes()
{
    const LdapSchema &schema = *find_ldap_schema("rfc2307");
    return {schema.naming,     schema.home_dir,     schema.comment,
            schema.script_path, schema.flags,       schema.lock_time,
            schema.password_set, "objectClass",     schema.empty_member};
}

std::vector<std::string> paged_ldapsearch(const Site &site, const std::string &filter)
{
    std::vector<std::string> arguments = {"/usr/bin/ldapsearch", "-LLL", "-x", "-H",
                                          site.store.ldap.uri, "-D", site.store.ldap.bind_dn,
                                          "-w", SLAPD_SERVICE_PASSWORD, "-b", people(site),
                                          "-E", "pr=500/noprompt", filter};
    for (const std::string &attribute : listed_attributes())
        arguments.push_back(attribute);
    return arguments;
}

std::size_t count_of(const std::string &text, const std::string &what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// One timed run of a process that must print exactly lines lines starting
// with head.
std::function<double()> listing(std::vector<std::string> arguments, const std::string &cwd,
                                const std::string &head, std::size_t lines)
{
    return [arguments, cwd, head, lines] {
        Finished done = run_process(arguments, cwd);
        std::size_t found = count_of("\n" + done.output, "\n" + head);
        if (found != lines)
            fail(arguments[0] + " listed " + std::to_string(found) + " of " +
                 std::to_string(lines) + " (" + head + ")");
        return done.microseconds;
    };
}

std::function<double()> peak_memory(const Site &site, const std::string &cwd)
{
    return [&site, cwd] {
        Finished done = run_process({site.probe, site.lodgate, "search", "*"}, cwd);
        std::size_t at = done.output.rfind("maxrss ");
        if (at == std::string::npos)
            fail("no maxrss from rss_probe");
        return std::strtod(done.output.c_str() + at + 7, nullptr);
    };
}

// The listing figures, sampled in turns so that a drifting machine moves
// figures and floors alike.
std::vector<Row> listing_rows(const Site &site)
{
    std::size_t all = static_cast<std::size_t>(site.accounts) + 1;  // and the bench user
    // Ten names: u19990 to u19999 of 100,000.
    std::string prefix = "u" + std::to_string(site.accounts / 50 - 1);
    std::string n = std::to_string(site.accounts);
    std::string accounts = std::string("(objectClass=inetOrgPerson)");
    std::string narrowed = "(&" + accounts + "(uid=" + prefix + "*))";
    const std::pair<const char *, std::function<double()>> samples[] = {
        {"search", listing({site.lodgate, "search", "*"}, site.work, "+DATA ", all)},
        {"ldapsearch", listing(paged_ldapsearch(site, accounts), site.work, "dn: ", all)},
        {"prefix", listing({site.lodgate, "search", prefix + "?"}, site.work, "+DATA ", 10)},
        {"ldapsearch prefix",
         listing(paged_ldapsearch(site, narrowed), site.work, "dn: ", 11)},
        {"admin", listing({site.admin, "-c", site.work + "/lodgate.ini", "--tsv", "user",
                                 "list"}, site.work, "u", all - 1)},
        {"memory", peak_memory(site, site.work)},
        {"memory small", peak_memory(site, site.small)},
    };
    std::map<std::string, std::vector<double>> taken;
    for (int run = 0; run < site.listing_runs; ++run)
        for (const auto &[name, sample] : samples)
            taken[name].push_back(sample());
    auto spread = [&taken](const char *name) { return spread_of(taken[name]); };
    return {
        at_most("directory search *, " + n + " accounts (floor: ldapsearch, paged)",
                spread("search"), "ms", 1e-3, spread("ldapsearch").median, 2.0),
        at_most("directory search " + prefix + "?, " + n + " (floor: ldapsearch " + prefix + "*)",
                spread("prefix"), "ms", 1e-3, spread("ldapsearch prefix").median, 2.0),
        at_most("lodgate-admin user list, " + n + " (floor: ldapsearch, paged)", spread("admin"),
                "ms", 1e-3, spread("ldapsearch").median, 2.0),
        growth_at_most("peak memory of directory search *, " + n + " (floor: " +
                           std::to_string(SMALL_TREE) + ")",
                       spread("memory"), spread("memory small"), 8192, false),
    };
}

// One process started as the daemons start it, and what it must print.
struct Command {
    std::vector<std::string> arguments;
    const char *want;
    std::string input;
    std::string cwd;
};

// Two commands timed in turns, so that whatever else loads the machine
// falls on both alike: their CPU time (user and system of the reaped child)
// and their wall clock.
struct Turns {
    Spread cpu[2];
    Spread wall[2];
};

Turns in_turns(const Site &site, const Command (&commands)[2])
{
    std::vector<double> cpu[2], wall[2];
    for (int i = 0; i < site.runs; ++i)
        for (int which = 0; which < 2; ++which) {
            const Command &command = commands[(i + which) % 2];
            Finished done;
            if (run_process_status(command.arguments, command.cwd, done, command.input) != 0 ||
                done.status != 0 || done.output.find(command.want) == std::string::npos)
                fail(command.arguments[0] + " answered " + done.output);
            int slot = &command == &commands[0] ? 0 : 1;
            cpu[slot].push_back(done.cpu_us);
            wall[slot].push_back(done.microseconds);
        }
    return {{spread_of(cpu[0]), spread_of(cpu[1])}, {spread_of(wall[0]), spread_of(wall[1])}};
}

// The target on CPU time, the wall clock beside it as information.
void add_judged(std::vector<Row> &rows, const std::string &figure, const Turns &turns,
                const char *floor)
{
    rows.push_back(at_most(figure + ", CPU (floor: " + floor + ")", turns.cpu[0], "ms", 1e-3,
                           turns.cpu[1].median, 1.10));
    rows.push_back(at_most("  wall clock", turns.wall[0], "ms", 1e-3, turns.wall[1].median, 0));
}

// lodgate-auth, as saslauthd runs it, needs the lodgate user to read its
// configuration and the bind password: its own copies, in a directory that
// user may enter. Empty when the host has no lodgate user (or this is not
// root).
std::string auth_configuration(const Site &site)
{
    if (geteuid() != 0 || getpwnam("lodgate") == nullptr)
        return "";
    std::string dir = site.work + "/auth";
    LdapSettings ldap = site.store.ldap;
    ldap.bind_password_file = dir + "/bind";
    write_configuration(dir, ldap);
    write_file(ldap.bind_password_file, std::string(SLAPD_SERVICE_PASSWORD) + "\n");
    const struct passwd *user = getpwnam("lodgate");
    if (chmod(site.work.c_str(), 0755) != 0 || chmod(dir.c_str(), 0755) != 0 ||
        chmod((dir + "/lodgate.ini").c_str(), 0644) != 0 ||
        chmod(ldap.bind_password_file.c_str(), 0600) != 0 ||
        chown(ldap.bind_password_file.c_str(), user->pw_uid, user->pw_gid) != 0)
        fail("cannot give lodgate-auth its configuration in " + dir);
    return dir + "/lodgate.ini";
}

std::vector<Row> directory_rows(Site &site, bool smoke)
{
    const LdapSettings &ldap = site.store.ldap;
    Command whoami{{"/usr/bin/ldapwhoami", "-x", "-H", ldap.uri, "-D", site.user_dn, "-w",
                    PASSWORD}, "dn:", "", site.work};
    Command check{{site.lodgate, "check", USER, PASSWORD}, "+OK", "", site.work};
    Command lookup{{site.lodgate, "lookup", USER}, "+OK", "", site.work};
    Command search{{"/usr/bin/ldapsearch", "-LLL", "-x", "-H", ldap.uri, "-D", ldap.bind_dn, "-w",
                    SLAPD_SERVICE_PASSWORD, "-b", people(site), std::string("(uid=") + USER + ")"},
                   "dn:", "", site.work};
    std::vector<Row> rows;
    add_judged(rows, "directory check, module per login", in_turns(site, {check, whoami}),
               "ldapwhoami");
    add_judged(rows, "directory lookup, command line", in_turns(site, {lookup, search}),
               "ldapsearch");
    std::string auth_config = auth_configuration(site);
    if (!auth_config.empty()) {
        // pam_exec's way: the name in the environment, the password on input.
        setenv("PAM_USER", USER, 1);
        Command auth{{site.auth, "-c", auth_config, "pam"}, "", PASSWORD, "/"};
        add_judged(rows, "directory check through lodgate-auth", in_turns(site, {auth, whoami}),
                   "ldapwhoami");
        unsetenv("PAM_USER");
    } else {
        std::printf("lodgate-auth's row skipped: it needs root and the lodgate user\n");
    }
    int in_row = smoke ? 20 : 200;
    rows.push_back(at_most("directory check over one pipe, " + std::to_string(in_row) +
                               " in a row (floor: binds on one connection)",
                           pipe_checks(site, in_row), "ms", 1e-3,
                           binds_on_one_connection(site, in_row).median, 0));
    for (Row &row : listing_rows(site))
        rows.push_back(std::move(row));
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
    if (mkdir(argv[2], 0700) != 0 && errno != EEXIST)
        fail(std::string("cannot make ") + argv[2]);
    // Absolute: the programs run there are handed files in it.
    char *work = realpath(argv[2], nullptr);
    site.work = work != nullptr ? work : argv[2];
    std::free(work);
    bool smoke = argc > 3 && std::strcmp(argv[3], "--smoke") == 0;
    if (smoke) {
        site.runs = 5;
        site.accounts = 2000;
        site.listing_runs = 3;
    }
    std::string lodgate_dir = site.lodgate.substr(0, site.lodgate.rfind('/'));
    site.admin = lodgate_dir + "/lodgate-admin";
    site.auth = lodgate_dir + "/lodgate-auth";
    char *self = realpath(argv[0], nullptr);
    std::string self_path = self != nullptr ? self : "";
    std::free(self);
    site.probe = self_path.substr(0, self_path.rfind('/')) + "/rss_probe";
    if (!file_exists(site.admin) || !file_exists(site.probe))
        fail("no lodgate-admin beside the module or no rss_probe beside " + self_path);
    set_up(site);
    std::printf("\nThe directory store against slapd on loopback, %d accounts (median [min-max] of "
                "%d runs, %d for the listings):\n",
                site.accounts, site.runs, site.listing_runs);
    int targets = 0;
    int missed = print_rows(directory_rows(site, smoke), "floor", targets, !smoke);
    print_targets_met(targets, missed, !smoke);
    return 0;
}
