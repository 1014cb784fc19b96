// Runs every end-to-end figure of the module against the floors measured in
// the same run, and the peers a Debian administrator would run instead, and
// prints the tables: medians over several runs, their spread, the floor and
// the ratio against its target.
//   bench_driver <lodgate> <floor dir> <work dir> [--smoke]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "accountdb/account_db.h"
#include "accountdb/password_hash.h"
#include "accountdb/user_records.h"
#include "bench/bench_process.h"
#include "bench/bench_table.h"
#include "bench/peer_dovecot.h"
#include "bench/peer_saslauthd.h"
#include "bench/peers.h"

namespace {

struct Measurement {
    std::string name;
    std::function<double()> once;  // one sample
};

// Values a sample records beside its own, such as the processor time of the
// processes it timed; they are summarised with the samples.
std::map<std::string, std::vector<double>> side_samples;

// Flushes what the last sample wrote, so that its writeback does not run
// during the next one, and reads each file through, so that it is in the
// page cache: this kind of machine pages out what a minute has not touched,
// and a run of the table takes about that long.
void warm(const std::vector<std::string> &files)
{
    sync();
    std::vector<char> buffer(1 << 20);
    for (const std::string &file : files) {
        int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        while (read(fd, buffer.data(), buffer.size()) > 0) {
        }
        close(fd);
    }
}

// runs samples of each measurement, taken in turns, each after warm().
std::map<std::string, Spread> measure_in_turns(int runs, const std::vector<Measurement> &all,
                                               const std::vector<std::string> &files)
{
    std::map<std::string, std::vector<double>> values;
    for (int run = 0; run < runs; ++run) {
        for (const Measurement &measurement : all) {
            warm(files);
            values[measurement.name].push_back(measurement.once());
        }
        std::fprintf(stderr, "bench: run %d of %d done\n", run + 1, runs);
    }
    std::map<std::string, Spread> spreads;
    for (const auto &[name, samples] : values)
        spreads[name] = spread_of(samples);
    for (const auto &[name, samples] : side_samples)
        spreads[name] = spread_of(samples);
    return spreads;
}

double median_of(int count, const std::function<double()> &one)
{
    std::vector<double> values;
    for (int i = 0; i < count; ++i)
        values.push_back(one());
    return spread_of(values).median;
}

void write_file(const std::string &path, const std::string &text)
{
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (file == nullptr || std::fputs(text.c_str(), file) < 0 || std::fclose(file) != 0)
        fail("cannot write " + path);
}

std::string make_dir(const std::string &path)
{
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        fail("cannot create " + path);
    return path;
}

struct Paths {
    std::string lodgate;
    std::string floors;
    std::string work;
};

struct Database {
    std::string dir;   // holds lodgate.ini
    std::string file;
    int accounts = 0;
};

constexpr const char BENCH_PASSWORD[] = "bench-Pass-1";
constexpr int BIG = 100000;  // accounts of the large database

// Rows written straight through the account database, all with one hash.
Database make_database(const Paths &paths, const std::string &name, int accounts,
                       const std::string &hash)
{
    Database db;
    db.dir = make_dir(paths.work + "/" + name);
    db.file = db.dir + "/accounts.db";
    db.accounts = accounts;
    for (const char *suffix : {"", "-wal", "-shm"})
        std::remove((db.file + suffix).c_str());
    if (account_db_open(db.file.c_str()) != NERR_Success)
        fail("cannot create " + db.file);
    constexpr int BATCH = 10000;
    std::vector<UserRecord> batch;
    std::int64_t now = account_clock();
    char text[64];
    for (int n = 1; n <= accounts; ++n) {
        UserRecord user;
        std::snprintf(text, sizeof text, "user%06d", n);
        user.name = text;
        user.password_hash = hash;
        user.password_set = now;
        user.home_dir = "/var/mail/home/" + user.name;
        user.comment = "Bench account " + std::to_string(n);
        if (n % 2 == 0)
            user.script_path = "logon.cmd";
        batch.push_back(std::move(user));
        if (static_cast<int>(batch.size()) == BATCH || n == accounts) {
            if (db_insert_users(batch.data(), batch.size()) != NERR_Success)
                fail("cannot insert accounts into " + db.file);
            batch.clear();
        }
    }
    account_db_close();
    write_file(db.dir + "/lodgate.ini", "account_db " + db.file + "\n");
    return db;
}

std::string user_name(int n)
{
    char text[32];
    std::snprintf(text, sizeof text, "user%06d", n);
    return text;
}

// Spread of names over the table, so that lookups do not stay in one page.
int scattered(int i, int accounts)
{
    return 1 + static_cast<int>((static_cast<unsigned>(i) * 2654435761U) %
                                static_cast<unsigned>(accounts));
}

// count lookup lines of names spread over the table.
std::string lookup_commands(int count, int accounts)
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "lookup " + user_name(scattered(i, accounts)) + "\n";
    return lines;
}

void start_session(Child &child, const Paths &paths, const std::string &cwd)
{
    start_child(child, {paths.lodgate}, cwd);
    write_all(child.to_child, "version\n", 8);
    if (!starts_with(expect_line(child), "+OK Lodgate"))
        fail("no version reply");
}

// Sends all lines from another thread while this one reads one reply each.
double pipelined_us(Child &child, const std::string &lines, int count, const char *reply_prefix)
{
    auto start = clock_type::now();
    std::thread writer([&] { write_all(child.to_child, lines.data(), lines.size()); });
    std::string line;
    for (int i = 0; i < count; ++i) {
        if (!read_line(child, line) || !starts_with(line, reply_prefix)) {
            writer.detach();
            fail("unexpected pipelined reply: " + line);
        }
    }
    double elapsed = since_us(start);
    writer.join();
    return elapsed;
}

// Runs one peer login; ends the driver unless the peer accepted it.
Finished run_process_checked(const std::vector<std::string> &arguments,
                             bool (*accepted)(const Finished &))
{
    Finished done;
    if (run_process_status(arguments, "/", done) != 0 || !accepted(done))
        fail(arguments[0] + " did not accept the login: " + done.output);
    return done;
}

// Peak resident size so far (VmHWM) of a running process, in KiB.
double peak_rss_kib(pid_t pid)
{
    std::FILE *file = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (file == nullptr)
        fail("cannot read the status of process " + std::to_string(pid));
    char line[256];
    double kib = -1;
    while (std::fgets(line, sizeof line, file) != nullptr)
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            kib = std::strtod(line + 6, nullptr);
    std::fclose(file);
    if (kib < 0)
        fail("no VmHWM for process " + std::to_string(pid));
    return kib;
}

// clients threads at once, each making its share of logins one after
// another; logins per second over the whole.
double logins_per_second(int clients, int logins, const std::function<void(int, int)> &one_login)
{
    int each = logins / clients;
    auto start = clock_type::now();
    std::vector<std::thread> threads;
    for (int client = 0; client < clients; ++client)
        threads.emplace_back([&, client] {
            for (int k = 0; k < each; ++k)
                one_login(client, k);
        });
    for (std::thread &thread : threads)
        thread.join();
    return each * clients / (since_us(start) / 1e6);
}

struct Sizes {
    int runs;
    int spawns;
    int check_spawns;
    int checks_in_row;
    int memory_after;  // checks in a row before the first memory sample
    int round_trips;
    int pipelined_lines;
    int lookups;
    int sets;
    int set_pairs;  // runs of the module's sets and of the floor's, in turns
    int clients;
    int logins;
};

constexpr Sizes FULL = {5, 21, 7, 1000, 10, 10000, 200000, 100000, 20, 5, 8, 400};
constexpr Sizes SMOKE = {3, 7, 3, 20, 10, 2000, 50000, 20000, 5, 1, 8, 40};

struct Peers {
    std::string dir;
    SaslauthdPeer saslauthd;
    DovecotPeer dovecot;
    bool have_saslauthd = false;
    bool have_dovecot = false;
};

struct Bench {
    Paths paths;
    Sizes sizes;
    bool smoke = false;
    std::string hash;
    Database db_small;
    Database db_big;
    Database db_set;
    Database db_set_floor;  // the same, for the floor's sets
    std::string info_dir;
    std::string floor_process;
    std::string floor_process_static;
    std::string floor_pipe;
    std::string floor_crypt;
    std::string floor_crypt_huge;
    std::string module_crypt;  // verifies as the module does: huge pages when it has them
    std::string floor_sqlite;
    bool have_huge = false;
    bool have_static = false;
    Peers peers;
    std::vector<Measurement> measurements;
};

void add(Bench &bench, const std::string &name, std::function<double()> once)
{
    bench.measurements.push_back({name, std::move(once)});
}

// Median time of count processes; with cpu_name also the median of their
// processor time, recorded beside.
std::function<double()> process_median(std::vector<std::string> arguments, std::string cwd,
                                       int count, const char *expected,
                                       const char *cpu_name = nullptr)
{
    return [arguments, cwd, count, expected, cpu_name] {
        std::vector<double> cpu;
        double median = median_of(count, [&] {
            Finished done = run_process(arguments, cwd);
            if (expected != nullptr && !starts_with(done.output, expected))
                fail(arguments[0] + " " + arguments[1] + ": " + done.output);
            cpu.push_back(done.cpu_us);
            return done.microseconds;
        });
        if (cpu_name != nullptr)
            side_samples[cpu_name].push_back(spread_of(cpu).median);
        return median;
    };
}

struct Run {
    std::vector<std::string> arguments;
    std::string cwd;
    const char *expected;  // the output's start
};

Finished run_expecting(const Run &run)
{
    Finished done = run_process(run.arguments, run.cwd);
    if (!starts_with(done.output, run.expected))
        fail(run.arguments[0] + " " + run.arguments[1] + ": " + done.output);
    return done;
}

// count runs of the module's process and as many of its floor's, in turns,
// so that both meet the same moments of a shared machine. Returns the
// module's median time and records beside it the median processor time as
// "<name> cpu", the floor's as "<name> floor" and "<name> floor cpu".
std::function<double()> interleaved(const std::string &name, Run module, Run floor, int count)
{
    return [name, module, floor, count] {
        std::vector<double> times[2];
        std::vector<double> cpu[2];
        for (int i = 0; i < count; ++i)
            for (int k = 0; k < 2; ++k) {
                int which = (i + k) % 2;  // who goes first alternates
                Finished done = run_expecting(which == 0 ? module : floor);
                times[which].push_back(done.microseconds);
                cpu[which].push_back(done.cpu_us);
            }
        side_samples[name + " cpu"].push_back(spread_of(cpu[0]).median);
        side_samples[name + " floor"].push_back(spread_of(times[1]).median);
        side_samples[name + " floor cpu"].push_back(spread_of(cpu[1]).median);
        return spread_of(times[0]).median;
    };
}

// The number a floor prints, with its processor time over per recorded as
// cpu_name.
double number_and_cpu(const std::vector<std::string> &arguments, const std::string &cwd,
                      double per, const std::string &cpu_name)
{
    Finished done = run_process(arguments, cwd);
    char *end = nullptr;
    double value = std::strtod(done.output.c_str(), &end);
    if (end == done.output.c_str())
        fail("no number from " + arguments[0]);
    side_samples[cpu_name].push_back(done.cpu_us / per);
    return value;
}

// ru_maxrss of a run of the program, as rss_probe sees it.
std::function<double()> probe_rss(const Bench &bench, std::vector<std::string> arguments,
                                  std::string cwd)
{
    arguments.insert(arguments.begin(), bench.paths.floors + "/rss_probe");
    return [arguments, cwd] {
        Finished done = run_process(arguments, cwd);
        std::size_t at = done.output.rfind("maxrss ");
        if (at == std::string::npos)
            fail("no maxrss from rss_probe " + arguments[1]);
        return std::strtod(done.output.c_str() + at + 7, nullptr);
    };
}

void add_crypt_floors(Bench &bench)
{
    const Sizes &sizes = bench.sizes;
    const std::string &hash = bench.hash;
    const std::string &work = bench.paths.work;
    auto verify = [&bench, work](const std::string &program, int count, const char *how) {
        std::vector<std::string> arguments = {program, "verify", bench.hash, BENCH_PASSWORD,
                                              std::to_string(count)};
        if (how != nullptr)
            arguments.push_back(how);
        return [arguments, work] { return run_number(arguments, work); };
    };
    add(bench, "verify", verify(bench.floor_crypt, 10, nullptr));
    add(bench, "hash", [&bench] { return run_number({bench.floor_crypt, "hash", "5"}, bench.paths.work); });
    // A process that verifies once stands for a new process's first, slower
    // hash.
    add(bench, "verify once",
        process_median({bench.module_crypt, "verify", hash, BENCH_PASSWORD, "1"}, work,
                       sizes.check_spawns, nullptr, "verify once cpu"));
    add(bench, "verify cpu", verify(bench.module_crypt, 10, "cpu"));
    if (!bench.have_huge)
        return;
    add(bench, "verify huge", verify(bench.floor_crypt_huge, 10, nullptr));
    add(bench, "hash huge", [&bench] {
        return run_number({bench.floor_crypt_huge, "hash", "5"}, bench.paths.work);
    });
    // Sets are timed as a whole too.
    add(bench, "hash huge in a row", [&bench] {
        return run_number({bench.floor_crypt_huge, "hash", std::to_string(bench.sizes.sets), "mean"},
                          bench.paths.work);
    });
}

void add_floors(Bench &bench)
{
    const Sizes &sizes = bench.sizes;
    const Database &big = bench.db_big;
    const std::string &work = bench.paths.work;
    add(bench, "process",
        process_median({bench.floor_process, "lodgate.ini"}, big.dir, sizes.spawns, "+OK"));
    // The module is a static PIE when built so; the same process linked that
    // way shows what it adds beyond the linking.
    if (bench.have_static)
        add(bench, "process static",
            process_median({bench.floor_process_static, "lodgate.ini"}, big.dir, sizes.spawns,
                           "+OK"));
    add_crypt_floors(bench);
    add(bench, "round trip", [&bench] {
        Child child;
        start_child(child, {bench.floor_pipe}, bench.paths.work);
        auto start = clock_type::now();
        for (int i = 0; i < bench.sizes.round_trips; ++i) {
            write_all(child.to_child, "lookup user000001\n", 18);
            expect_line(child);
        }
        return since_us(start) / bench.sizes.round_trips;
    });
    auto floor_lines = std::make_shared<std::string>(lookup_commands(sizes.pipelined_lines, BIG));
    add(bench, "pipelined line", [&bench, floor_lines] {
        Child child;
        start_child(child, {bench.floor_pipe}, bench.paths.work);
        int count = bench.sizes.pipelined_lines;
        return pipelined_us(child, *floor_lines, count, "+OK lookup") / count;
    });
    const std::string &sqlite = bench.floor_sqlite;
    add(bench, "point lookup", [sqlite, big, work] {
        return run_number({sqlite, "lookup", big.file, std::to_string(BIG), "20000"}, work);
    });
    // A rate is a whole run's time over its count, so its floor is as many
    // point lookups timed as a whole: the median leaves out the slow tail
    // of pages read from the file.
    int lookups = sizes.lookups;
    add(bench, "point lookups in a row", [sqlite, big, work, lookups] {
        return run_number({sqlite, "lookup", big.file, std::to_string(BIG),
                           std::to_string(lookups), "mean"},
                          work);
    });
    add(bench, "scan", [sqlite, big, work] { return run_number({sqlite, "scan", big.file}, work); });
    std::string scratch = work + "/commit-floor.db";
    add(bench, "commit",
        [sqlite, scratch, work] { return run_number({sqlite, "commit", scratch, "10"}, work); });
}

// The cores share their caches and memory: one verify loop per core, all at
// once, is what the machine can verify, short of perfect scaling.
double verify_loops_at_once(const Bench &bench, int verifies)
{
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    std::vector<double> means(static_cast<std::size_t>(cores));
    std::string each = std::to_string(verifies / cores);
    std::vector<std::thread> loops;
    for (std::size_t i = 0; i < means.size(); ++i)
        loops.emplace_back([&, i] {
            means[i] = run_number({bench.module_crypt, "verify", bench.hash, BENCH_PASSWORD, each,
                                   "mean"},
                                  bench.paths.work);
        });
    double rate = 0;
    for (std::size_t i = 0; i < means.size(); ++i) {
        loops[i].join();
        rate += 1e6 / means[i];
    }
    return rate;
}

std::string check_user(int client, int k)
{
    return user_name(scattered(client * 1009 + k, BIG));
}

// count lines of the child, each answered before the next is sent; ends the
// driver unless every answer starts with expected.
void answer_lines(Child &child, const std::string &line, int count, const char *expected)
{
    for (int i = 0; i < count; ++i) {
        write_all(child.to_child, line.data(), line.size());
        std::string answer = expect_line(child);
        if (!starts_with(answer, expected))
            fail("reply: " + answer);
    }
}

// Checks over one pipe, and as many verifies answered over a pipe by a
// process that only verifies, in blocks taken in turns, so that both meet
// the same moments of a shared machine. Each process's processor time comes
// from its rusage at the end: it spends none while it waits for its next
// block. The module's peak resident size after a few checks and after all
// of them is recorded beside: a pipe serves for the daemon's lifetime.
double checks_in_turns(const Bench &bench)
{
    Child module;
    start_session(module, bench.paths, bench.db_big.dir);
    Child floor;
    start_child(floor, {bench.module_crypt, "answer", bench.hash, BENCH_PASSWORD},
                bench.paths.work);
    const std::string check = std::string("check user054321 ") + BENCH_PASSWORD + "\n";
    int count = bench.sizes.checks_in_row;
    int early = bench.sizes.memory_after;
    answer_lines(module, check, early, "+OK user054321");
    side_samples["pipe memory early"].push_back(peak_rss_kib(module.pid));
    answer_lines(floor, "verify\n", early, "+OK");
    constexpr int BLOCKS = 10;
    double elapsed[2] = {0, 0};
    for (int block = 0; block < BLOCKS; ++block)
        for (int k = 0; k < 2; ++k) {
            int which = (block + k) % 2;  // who goes first alternates
            int lines = (count - early) / BLOCKS + (block < (count - early) % BLOCKS ? 1 : 0);
            auto start = clock_type::now();
            if (which == 0)
                answer_lines(module, check, lines, "+OK user054321");
            else
                answer_lines(floor, "verify\n", lines, "+OK");
            elapsed[which] += since_us(start);
        }
    side_samples["pipe memory late"].push_back(peak_rss_kib(module.pid));
    side_samples["check in a row cpu"].push_back(finish_child(module) / count);
    side_samples["verifies answered cpu"].push_back(finish_child(floor) / count);
    side_samples["verifies answered"].push_back(elapsed[1] / (count - early));
    return elapsed[0] / (count - early);
}

// The logins of a figure and of its floor in blocks taken in turns, so that
// both meet the same moments of a shared machine: logins per second over
// each one's blocks, the floor's recorded as floor_name. block(which,
// logins, first) makes that many logins of the figure (0) or the floor (1).
double logins_in_turns(const Bench &bench, const std::function<double(int, int, int)> &block,
                       const std::string &floor_name)
{
    constexpr int BLOCKS = 4;
    int logins = bench.sizes.logins / BLOCKS;
    double seconds[2] = {0, 0};
    for (int b = 0; b < BLOCKS; ++b)
        for (int k = 0; k < 2; ++k) {
            int which = (b + k) % 2;  // who goes first alternates
            seconds[which] += logins / block(which, logins, b * logins);
        }
    int all = logins * BLOCKS;
    side_samples[floor_name].push_back(all / seconds[1]);
    return all / seconds[0];
}

// Logins under load: clients at once, a module per login or one long-lived
// pipe each, right passwords of accounts spread over the table.
std::function<void(int, int)> module_login(const Bench &bench, int first)
{
    return [&bench, first](int client, int k) {
        std::string name = check_user(client, first + k);
        Finished done = run_process({bench.paths.lodgate, "check", name, BENCH_PASSWORD},
                                    bench.db_big.dir);
        if (!starts_with(done.output, ("+OK " + name).c_str()))
            fail("check reply: " + done.output);
    };
}

// Beside a module per login, what a process per login costs anyway:
// processes that verify once, as many at once as the clients.
double logins_of_processes(const Bench &bench)
{
    const std::vector<std::string> verify_once = {bench.module_crypt, "verify", bench.hash,
                                                  BENCH_PASSWORD, "1"};
    int clients = bench.sizes.clients;
    return logins_in_turns(bench, [&](int which, int logins, int first) {
        if (which == 0)
            return logins_per_second(clients, logins, module_login(bench, first));
        return logins_per_second(clients, logins, [&](int, int) {
            run_process(verify_once, bench.paths.work);
        });
    }, "logins floor processes");
}

// Beside long-lived pipes, a verify loop per core.
double logins_over_pipes(const Bench &bench)
{
    std::vector<Child> sessions(static_cast<std::size_t>(bench.sizes.clients));
    for (Child &session : sessions)
        start_session(session, bench.paths, bench.db_big.dir);
    return logins_in_turns(bench, [&](int which, int logins, int first) {
        if (which == 1)
            return verify_loops_at_once(bench, logins);
        return logins_per_second(bench.sizes.clients, logins, [&](int client, int k) {
            Child &session = sessions[static_cast<std::size_t>(client)];
            std::string name = check_user(client, first + k);
            std::string command = "check " + name + " " + BENCH_PASSWORD + "\n";
            write_all(session.to_child, command.data(), command.size());
            std::string line = expect_line(session);
            if (!starts_with(line, ("+OK " + name).c_str()))
                fail("check reply: " + line);
        });
    }, "verify loops at once");
}

void add_check_figures(Bench &bench)
{
    const Sizes &sizes = bench.sizes;
    const Database &big = bench.db_big;
    const std::string &lodgate = bench.paths.lodgate;
    // Against a process that opens the file, reads the row and verifies
    // once: what a store's check cannot skip.
    const std::string &sqlite = bench.floor_sqlite;
    add(bench, "check right",
        interleaved("check right",
                    {{lodgate, "check", "user054321", BENCH_PASSWORD}, big.dir,
                     "+OK user054321 config 0"},
                    {{sqlite, "check", big.file, "user054321", BENCH_PASSWORD}, big.dir,
                     "+OK user054321"},
                    sizes.spawns));
    add(bench, "check wrong",
        interleaved("check wrong",
                    {{lodgate, "check", "user054321", "wrong-pass"}, big.dir,
                     "-ERR user054321 does not exist"},
                    {{sqlite, "check", big.file, "user054321", "wrong-pass"}, big.dir,
                     "-ERR user054321"},
                    sizes.spawns));
    add(bench, "check in a row", [&bench] { return checks_in_turns(bench); });
    add(bench, "memory check",
        probe_rss(bench, {lodgate, "check", "user054321", BENCH_PASSWORD}, big.dir));
    add(bench, "memory verify once",
        probe_rss(bench, {bench.module_crypt, "verify", bench.hash, BENCH_PASSWORD, "1"},
                  bench.paths.work));
    add(bench, "logins processes", [&bench] { return logins_of_processes(bench); });
    add(bench, "logins pipes", [&bench] { return logins_over_pipes(bench); });
}

// Pipelined lookups of the module and of SQLite serving with its cache, in
// blocks taken in turns, so that both meet the same moments of a shared
// machine: lookups per second over each one's blocks, and per second of
// each serving process's processor time, from its rusage at the end.
double lookups_in_turns(const Bench &bench)
{
    constexpr int BLOCKS = 10;
    int lookups = bench.sizes.lookups / BLOCKS;
    std::vector<std::string> blocks;
    for (int b = 0; b < BLOCKS; ++b) {
        std::string lines;
        for (int i = b * lookups; i < (b + 1) * lookups; ++i)
            lines += "lookup " + user_name(scattered(i, BIG)) + "\n";
        blocks.push_back(std::move(lines));
    }
    Child served[2];
    start_session(served[0], bench.paths, bench.db_big.dir);
    start_child(served[1], {bench.floor_sqlite, "serve", bench.db_big.file}, bench.db_big.dir);
    double seconds[2] = {0, 0};
    for (int b = 0; b < BLOCKS; ++b)
        for (int k = 0; k < 2; ++k) {
            int which = (b + k) % 2;  // who goes first alternates
            seconds[which] += pipelined_us(served[which], blocks[b], lookups, "+OK user") / 1e6;
        }
    int all = lookups * BLOCKS;
    side_samples["lookup rate cpu"].push_back(all / (finish_child(served[0]) / 1e6));
    side_samples["served lookup rate cpu"].push_back(all / (finish_child(served[1]) / 1e6));
    side_samples["served lookup rate"].push_back(all / seconds[1]);
    return all / seconds[0];
}

void add_lookup_figures(Bench &bench)
{
    const Sizes &sizes = bench.sizes;
    const Database &big = bench.db_big;
    // Against SQLite alone opening the file and reading the row once.
    add(bench, "lookup",
        interleaved("lookup",
                    {{bench.paths.lodgate, "lookup", "user054321"}, big.dir,
                     "+OK user054321 config 0"},
                    {{bench.floor_sqlite, "find", big.file, "user054321"}, big.dir,
                     "+OK user054321"},
                    sizes.spawns));
    auto lookup_lines = std::make_shared<std::string>(lookup_commands(sizes.lookups, BIG));
    // Beside each rate, the lookups per second of the serving process's own
    // processor time, as "<name> cpu".
    auto lookup_rate = [&bench, lookup_lines](const std::string &cwd, const std::string &name) {
        return [&bench, lookup_lines, cwd, name] {
            const std::string &info_dir = bench.info_dir;
            int lookups = bench.sizes.lookups;
            std::remove((info_dir + "/lodgate.log").c_str());
            Child child;
            start_session(child, bench.paths, cwd);
            double rate = lookups / (pipelined_us(child, *lookup_lines, lookups, "+OK user") / 1e6);
            side_samples[name + " cpu"].push_back(lookups / (finish_child(child) / 1e6));
            struct stat log_state{};
            if (cwd == info_dir && (stat((info_dir + "/lodgate.log").c_str(), &log_state) != 0 ||
                                    log_state.st_size < lookups * 20))
                fail("INFO logging wrote no log file");
            return rate;
        };
    };
    auto served_rate = [&bench, lookup_lines](std::vector<std::string> arguments,
                                              const std::string &name) {
        return [&bench, lookup_lines, arguments, name] {
            Child child;
            start_child(child, arguments, bench.db_big.dir);
            write_all(child.to_child, "lookup user000001\n", 18);
            if (!starts_with(expect_line(child), "+OK user000001"))
                fail("no reply from floor_sqlite serve");
            int lookups = bench.sizes.lookups;
            double rate = lookups / (pipelined_us(child, *lookup_lines, lookups, "+OK user") / 1e6);
            side_samples[name + " cpu"].push_back(lookups / (finish_child(child) / 1e6));
            return rate;
        };
    };
    add(bench, "lookup rate", [&bench] { return lookups_in_turns(bench); });
    add(bench, "served lookup rate 2 MB",
        served_rate({bench.floor_sqlite, "serve", bench.db_big.file, "default-cache"},
                    "served lookup rate 2 MB"));
    add(bench, "lookup rate info", lookup_rate(bench.info_dir, "lookup rate info"));
}

// One run of the module's sets over a pipe: their time each, the pipe's
// processor time each recorded as "set cpu".
double module_sets(const Bench &bench, int series)
{
    Child child;
    start_session(child, bench.paths, bench.db_set.dir);
    auto start = clock_type::now();
    for (int i = 0; i < bench.sizes.sets; ++i) {
        std::string name = "new" + std::to_string(series) + "x" + std::to_string(i);
        std::string command = "set " + name + " " + BENCH_PASSWORD + "\n";
        write_all(child.to_child, command.data(), command.size());
        std::string line = expect_line(child);
        if (line != "+OK " + name + " added to database.")
            fail("set reply: " + line);
    }
    double elapsed = since_us(start);
    side_samples["set cpu"].push_back(finish_child(child) / bench.sizes.sets);
    return elapsed / bench.sizes.sets;
}

double sets_in_turns(const Bench &bench)
{
    static int series = 0;
    std::vector<double> times;
    int sets = bench.sizes.sets;
    for (int pair = 0; pair < bench.sizes.set_pairs; ++pair)
        for (int k = 0; k < 2; ++k) {
            ++series;
            if ((pair + k) % 2 == 0) {
                times.push_back(module_sets(bench, series));
                continue;
            }
            std::string prefix = "floor" + std::to_string(series) + "x";
            side_samples["set floor"].push_back(
                number_and_cpu({bench.floor_sqlite, "set", bench.db_set_floor.file, prefix,
                                std::to_string(sets)},
                               bench.paths.work, sets, "set floor cpu"));
        }
    return spread_of(times).median;
}

void add_other_figures(Bench &bench)
{
    const Database &big = bench.db_big;
    add(bench, "search", [&bench] {
        Child child;
        start_session(child, bench.paths, bench.db_big.dir);
        auto start = clock_type::now();
        write_all(child.to_child, "search *\n", 9);
        int data = 0;
        std::string line;
        for (;;) {
            line = expect_line(child);
            if (!starts_with(line, "+DATA "))
                break;
            ++data;
        }
        double elapsed = since_us(start);
        if (data != BIG || line != "+OK 100000 entries found.")
            fail("search ended with " + std::to_string(data) + " lines and: " + line);
        return elapsed;
    });
    add(bench, "memory 1k", probe_rss(bench, {bench.paths.lodgate, "search", "*"}, bench.db_small.dir));
    add(bench, "memory 100k", probe_rss(bench, {bench.paths.lodgate, "search", "*"}, big.dir));
    add(bench, "version", process_median({bench.paths.lodgate, "-version"}, big.dir,
                                         bench.sizes.spawns, "Quorvane's Lodgate module"));
    // The floor: a process that makes as many new hashes and writes the same
    // rows with SQLite alone, one transaction each, into a copy of the same
    // database. Runs of both in turns, as for the processes of one command.
    add(bench, "set", [&bench] { return sets_in_turns(bench); });
}

// Starts what is installed; a peer that cannot run is skipped with a
// plain message, and the table goes on without it.
void start_peers(Bench &bench)
{
    Peers &peers = bench.peers;
    std::string why;
    if (!saslauthd_installed() && !dovecot_installed()) {
        std::fprintf(stderr, "bench: peers skipped: neither saslauthd (Debian package sasl2-bin)"
                             " nor Dovecot (dovecot-core) is installed\n");
        return;
    }
    if (peers_begin(bench.paths.work + "/peers.state", peers.dir, why) != 0 ||
        peer_user_create(bench.hash, why) != 0) {
        std::fprintf(stderr, "bench: peers skipped: %s\n", why.c_str());
        return;
    }
    peers.have_saslauthd =
        saslauthd_start(peers.saslauthd, peers.dir, PEER_USER, BENCH_PASSWORD, why) == 0;
    if (!peers.have_saslauthd)
        std::fprintf(stderr, "bench: saslauthd skipped: %s\n", why.c_str());
    std::string passdb = dovecot_passwd_file_passdb(peers.dir, "dovecot", PEER_USER, bench.hash);
    peers.have_dovecot = dovecot_start(peers.dovecot, peers.dir, "dovecot", passdb, PEER_USER,
                                       BENCH_PASSWORD, why) == 0;
    if (!peers.have_dovecot)
        std::fprintf(stderr, "bench: Dovecot skipped: %s\n", why.c_str());
}

void add_peer(Bench &bench, const std::string &name,
              std::function<std::vector<std::string>()> command,
              bool (*accepted)(const Finished &))
{
    const std::vector<std::string> arguments = command();
    add(bench, name + " login", [&bench, arguments, accepted] {
        return median_of(bench.sizes.check_spawns, [&] {
            Finished done = run_process_checked(arguments, accepted);
            return done.microseconds;
        });
    });
    add(bench, name + " logins", [&bench, arguments, accepted] {
        return logins_per_second(bench.sizes.clients, bench.sizes.logins,
                                 [&](int, int) { run_process_checked(arguments, accepted); });
    });
}

void add_peers(Bench &bench)
{
    const Peers &peers = bench.peers;
    if (peers.have_saslauthd)
        add_peer(bench, "saslauthd",
                 [&] { return saslauthd_login_command(peers.saslauthd, PEER_USER, BENCH_PASSWORD); },
                 saslauthd_accepted);
    if (peers.have_dovecot)
        add_peer(bench, "dovecot",
                 [&] { return dovecot_login_command(peers.dovecot, PEER_USER, BENCH_PASSWORD); },
                 dovecot_accepted);
}

// A figure of the run; a name that none has is the driver's own fault.
const Spread &at(const std::map<std::string, Spread> &measured, const std::string &name)
{
    auto found = measured.find(name);
    if (found == measured.end())
        fail("no figure named \"" + name + "\"");
    return found->second;
}

std::vector<Row> peer_rows(const Bench &bench, const std::map<std::string, Spread> &measured)
{
    std::vector<Row> rows;
    const double lodgate_login = at(measured, "check right").median;
    const double lodgate_rate = at(measured, "logins processes").median;
    struct PeerLine {
        const char *name;
        const char *label;
    };
    const PeerLine lines[] = {
        {"saslauthd", "saslauthd -a shadow, testsaslauthd"},
        {"dovecot", "Dovecot auth, passwd-file, doveadm auth test"},
    };
    for (const PeerLine &line : lines) {
        auto login = measured.find(std::string(line.name) + " login");
        if (login == measured.end())
            continue;
        rows.push_back(at_most(std::string(line.label) + ", one login", login->second, "ms", 1e-3,
                               lodgate_login, 0));
        rows.push_back(at_least_rate("  logins/s, " + std::to_string(bench.sizes.clients) +
                                         " clients",
                                     at(measured, std::string(line.name) + " logins"),
                                     lodgate_rate, 0));
    }
    return rows;
}

// A figure judged on the processor time of its process against its floor's
// in the same run, with the wall-clock times beside as information.
void add_cpu_rows(std::vector<Row> &rows, const std::string &figure, const Spread &cpu,
                  double floor_cpu, double limit, const Spread &wall, double floor_wall)
{
    rows.push_back(at_most(figure + ", CPU time", cpu, "ms", 1e-3, floor_cpu, limit));
    rows.push_back(at_most("  wall clock", wall, "ms", 1e-3, floor_wall, 0));
}

void add_check_rows(const Bench &bench, const std::map<std::string, Spread> &measured,
                    std::vector<Row> &rows)
{
    auto median = [&](const std::string &name) { return at(measured, name).median; };
    for (std::string which : {"right", "wrong"}) {
        std::string name = "check " + which;
        add_cpu_rows(rows, "check, command line, " + which + " password, 100k",
                     at(measured, name + " cpu"), median(name + " floor cpu"), 1.03,
                     at(measured, name), median(name + " floor"));
        rows.push_back(at_most("  wall clock, against a process that verifies once",
                               at(measured, name), "ms", 1e-3, median("verify once"), 0, 1.03));
    }
    std::string in_row = std::to_string(bench.sizes.checks_in_row);
    add_cpu_rows(rows, "check over one pipe, " + in_row + " in a row, each",
                 at(measured, "check in a row cpu"), median("verifies answered cpu"), 1.02,
                 at(measured, "check in a row"), median("verifies answered"));
    add_cpu_rows(rows, "set of new accounts, one after another, each", at(measured, "set cpu"),
                 median("set floor cpu"), 1.03, at(measured, "set"), median("set floor"));
    const char *hash = bench.have_huge ? "hash huge in a row" : "hash";
    rows.push_back(at_most("  wall clock, against new hashes timed whole + one commit each",
                           at(measured, "set"), "ms", 1e-3, median(hash) + median("commit"), 0,
                           1.03));
}

void add_lookup_rows(const Bench &bench, const std::map<std::string, Spread> &measured,
                     std::vector<Row> &rows)
{
    auto median = [&](const char *name) { return at(measured, name).median; };
    add_cpu_rows(rows, "lookup, command line, 100k", at(measured, "lookup cpu"),
                 median("lookup floor cpu"), 1.03, at(measured, "lookup"), median("lookup floor"));
    rows.push_back(at_most("  wall clock, against process + point lookup", at(measured, "lookup"),
                           "ms", 1e-3, median("process") + median("point lookup"), 0));
    if (bench.have_static)
        rows.push_back(at_most("  wall clock, against static process + point lookup",
                               at(measured, "lookup"), "ms", 1e-3,
                               median("process static") + median("point lookup"), 0));
    const Spread &rate = at(measured, "lookup rate");
    double old_rate = 1e6 / (median("point lookups in a row") + median("pipelined line"));
    rows.push_back(at_least_rate("lookup over one pipe, pipelined, 100k, logging off", rate,
                                 median("served lookup rate"), 0.85, 1.0));
    rows.push_back(at_least_rate("  per second of the serving process's CPU time",
                                 at(measured, "lookup rate cpu"),
                                 median("served lookup rate cpu"), 0));
    rows.push_back(at_least_rate("  against SQLite's default 2 MB cache, served", rate,
                                 median("served lookup rate 2 MB"), 0));
    rows.push_back(at_least_rate("lookup over one pipe, pipelined, 100k, INFO logging",
                                 at(measured, "lookup rate info"), old_rate, 0, 0.35));
}

// Logins under load against processes and loops that do the same work at
// once: what a machine whose cores share caches and memory can serve.
void add_login_rows(const Bench &bench, const std::map<std::string, Spread> &measured,
                    std::vector<Row> &rows)
{
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    double floor = static_cast<double>(cores) * 1e6 / at(measured, "verify cpu").median;
    std::string clients = std::to_string(bench.sizes.clients) + " clients, " +
                          std::to_string(bench.sizes.logins) + " checks";
    rows.push_back(at_least_rate("logins/s, " + clients + ", a module per login",
                                 at(measured, "logins processes"),
                                 at(measured, "logins floor processes").median, 0.9));
    rows.push_back(at_least_rate("  against the cores / one verify's CPU time",
                                 at(measured, "logins processes"), floor, 0, 0.9));
    rows.push_back(at_least_rate("logins/s, " + clients + ", " +
                                     std::to_string(bench.sizes.clients) + " long-lived pipes",
                                 at(measured, "logins pipes"),
                                 at(measured, "verify loops at once").median, 0.9));
    rows.push_back(at_least_rate("  against the cores / one verify's CPU time",
                                 at(measured, "logins pipes"), floor, 0, 0.9));
}

void add_memory_rows(const Bench &bench, const std::map<std::string, Spread> &measured,
                     std::vector<Row> &rows)
{
    rows.push_back(at_most("peak memory of one check process", at(measured, "memory check"),
                           "KiB", 1.0, at(measured, "memory verify once").median, 0));
    rows.push_back(growth_at_most("peak memory of a pipe after " +
                                      std::to_string(bench.sizes.checks_in_row) +
                                      " checks (floor: after " +
                                      std::to_string(bench.sizes.memory_after) + ")",
                                  at(measured, "pipe memory late"),
                                  at(measured, "pipe memory early"), 256, false));
    rows.push_back(growth_at_most("peak memory of search *, 100k (floor: 1k)",
                                  at(measured, "memory 100k"), at(measured, "memory 1k"), 1024,
                                  true));
}

std::vector<Row> target_rows(const Bench &bench, const std::map<std::string, Spread> &measured)
{
    auto median = [&](const char *name) { return at(measured, name).median; };
    std::vector<Row> rows;
    add_check_rows(bench, measured, rows);
    add_lookup_rows(bench, measured, rows);
    add_login_rows(bench, measured, rows);
    add_memory_rows(bench, measured, rows);
    rows.push_back(at_most("search * over one pipe, 100k", at(measured, "search"), "ms", 1e-3,
                           median("scan") + BIG * median("pipelined line"), 0, 2.0));
    rows.push_back(at_most("-version", at(measured, "version"), "ms", 1e-3, median("process"), 0,
                           1.2));
    if (bench.have_static)
        rows.push_back(at_most("  against a static process", at(measured, "version"), "ms", 1e-3,
                               median("process static"), 0));
    return rows;
}

constexpr NamedLine FLOOR_LINES[] = {
    {"check right floor", "a process that opens the file, reads the row, verifies once"},
    {"check right floor cpu", "  its CPU time"},
    {"check wrong floor cpu", "  its CPU time, a wrong password"},
    {"lookup floor", "SQLite alone: a process that opens the file, reads the row"},
    {"lookup floor cpu", "  its CPU time"},
    {"set floor", "new hash + its rows in one transaction, timed whole, each"},
    {"set floor cpu", "  the process's CPU time per set"},
    {"process", "process: start, read one file, one line"},
    {"process static", "the same process, static PIE"},
    {"verify", "yescrypt verify (crypt_rn), loop median"},
    {"verify once", "yescrypt: a process that verifies once"},
    {"verify once cpu", "  its CPU time"},
    {"verify cpu", "yescrypt verify as the module maps it, CPU time"},
    {"verify loops at once", "yescrypt verifies, one loop per core at once", true},
    {"hash", "yescrypt new hash (gensalt + crypt_rn)"},
    {"verify huge", "yescrypt verify, 2 MiB pages, loop median"},
    {"verifies answered", "yescrypt verifies answered over a pipe, as checks, each"},
    {"verifies answered cpu", "  the process's CPU time per verify"},
    {"hash huge", "yescrypt new hash, 2 MiB pages"},
    {"hash huge in a row", "yescrypt new hash, 2 MiB pages, as many as sets, timed whole"},
    {"round trip", "pipe round trip"},
    {"pipelined line", "pipelined line"},
    {"point lookup", "SQLite prepared point lookup, 100k, median"},
    {"point lookups in a row", "SQLite point lookups, 100k, timed whole"},
    {"served lookup rate", "SQLite lookups answered over the pipe, the module's cache", true},
    {"served lookup rate cpu", "  per second of its CPU time", true},
    {"served lookup rate 2 MB", "  with SQLite's default 2 MB cache", true},
    {"scan", "SQLite full scan, 100k"},
    {"commit", "SQLite synchronous commit (WAL, FULL)"},
};

// Instructions per operation of the module and of its floor, counted by perf
// once each after the timed runs; where perf counts none, why is said.
std::vector<Row> instruction_rows(const Bench &bench, std::string &why)
{
    std::vector<Row> rows;
    if (count_instructions({"/bin/true"}, bench.paths.work, "", why) < 0)
        return rows;
    const std::string &lodgate = bench.paths.lodgate;
    const std::string &sqlite = bench.floor_sqlite;
    const Database &big = bench.db_big;
    int sets = bench.sizes.sets;
    int lookups = bench.sizes.lookups;
    std::string set_lines;
    for (int i = 0; i < sets; ++i)
        set_lines += "set counted" + std::to_string(i) + " " + BENCH_PASSWORD + "\n";
    std::string lookup_lines = lookup_commands(lookups, BIG);
    struct Counted {
        const char *figure;
        std::vector<std::string> module;
        std::string module_dir;
        std::string input;
        std::vector<std::string> floor;
        int per;
    };
    const Counted counted[] = {
        {"instructions per check, command line", {lodgate, "check", "user054321", BENCH_PASSWORD},
         big.dir, "", {sqlite, "check", big.file, "user054321", BENCH_PASSWORD}, 1},
        {"instructions per set", {lodgate}, bench.db_set.dir, set_lines,
         {sqlite, "set", bench.db_set_floor.file, "counted", std::to_string(sets)}, sets},
        {"instructions per lookup, command line", {lodgate, "lookup", "user054321"}, big.dir, "",
         {sqlite, "find", big.file, "user054321"}, 1},
        {"instructions per pipelined lookup", {lodgate}, big.dir, lookup_lines,
         {sqlite, "serve", big.file}, lookups},
    };
    for (const Counted &c : counted) {
        double module = count_instructions(c.module, c.module_dir, c.input, why);
        const std::string &floor_input = c.floor[1] == "serve" ? c.input : std::string();
        double floor = count_instructions(c.floor, c.module_dir, floor_input, why);
        if (module < 0 || floor < 0)
            return {};
        double each = module / c.per;
        rows.push_back(at_most(c.figure, {each, each, each}, "k", 1e-3, floor / c.per, 0));
    }
    return rows;
}

constexpr const char *FLOOR_PROGRAMS[] = {"floor_process", "floor_process_static",
                                          "floor_pipe_child", "floor_crypt", "floor_crypt_huge",
                                          "floor_sqlite", "rss_probe"};

// A copy of the program in dir, written whole. How a file came into the page
// cache changes what starting it costs: here a linker's output started up to
// 15% slower than a copy of it, the same for the floor as for the module by
// chance only. So every program timed is a copy made the same way.
std::string copy_program(const std::string &from, const std::string &dir)
{
    std::string to = dir + from.substr(from.rfind('/'));
    std::FILE *in = std::fopen(from.c_str(), "rb");
    if (in == nullptr)
        return to;  // a floor this build does not make
    std::string bytes;
    char chunk[1 << 16];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0)
        bytes.append(chunk, got);
    std::fclose(in);
    int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    if (fd < 0)
        fail("cannot create " + to);
    write_all(fd, bytes.data(), bytes.size());
    if (close(fd) != 0)
        fail("cannot write " + to);
    return to;
}

void copy_programs(Paths &paths)
{
    std::string dir = make_dir(paths.work + "/bin");
    for (const char *floor : FLOOR_PROGRAMS)
        copy_program(paths.floors + "/" + floor, dir);
    paths.floors = dir;
    paths.lodgate = copy_program(paths.lodgate, dir);
}

void set_up(Bench &bench)
{
    copy_programs(bench.paths);
    if (hash_password(BENCH_PASSWORD, bench.hash) != 0)
        fail("cannot hash");
    auto setup_start = clock_type::now();
    const Paths &paths = bench.paths;
    bench.db_small = make_database(paths, "db1k", 1000, bench.hash);
    bench.db_big = make_database(paths, "db100k", BIG, bench.hash);
    bench.db_set = make_database(paths, "dbset", 1000, bench.hash);
    bench.db_set_floor = make_database(paths, "dbsetfloor", 1000, bench.hash);
    bench.info_dir = make_dir(paths.work + "/db100k-info");
    write_file(bench.info_dir + "/lodgate.ini", "account_db " + bench.db_big.file +
                                                    "\nlog info\npath " + bench.info_dir + "\n");
    std::fprintf(stderr, "bench: databases ready in %.1f s (%s)\n", since_us(setup_start) / 1e6,
                 bench.smoke ? "smoke" : "full");
    bench.floor_process = paths.floors + "/floor_process";
    bench.floor_process_static = paths.floors + "/floor_process_static";
    bench.floor_pipe = paths.floors + "/floor_pipe_child";
    bench.floor_crypt = paths.floors + "/floor_crypt";
    bench.floor_sqlite = paths.floors + "/floor_sqlite";
    // The same verify with the hash region in 2 MiB pages, as the module maps
    // it when libcrypt is linked in; absent otherwise.
    bench.floor_crypt_huge = paths.floors + "/floor_crypt_huge";
    bench.have_huge = access(bench.floor_crypt_huge.c_str(), X_OK) == 0;
    bench.have_static = access(bench.floor_process_static.c_str(), X_OK) == 0;
    bench.module_crypt = bench.have_huge ? bench.floor_crypt_huge : bench.floor_crypt;
}

std::vector<std::string> files_to_warm(const Bench &bench)
{
    std::vector<std::string> files = {bench.db_big.file, bench.db_small.file, bench.db_set.file,
                                      bench.db_set_floor.file, bench.paths.lodgate};
    for (const char *floor : FLOOR_PROGRAMS)
        files.push_back(bench.paths.floors + "/" + floor);
    if (bench.peers.have_saslauthd)
        files.push_back(saslauthd_login_command(bench.peers.saslauthd, "", "")[0]);
    if (bench.peers.have_dovecot)
        files.push_back(dovecot_login_command(bench.peers.dovecot, "", "")[0]);
    return files;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 4)
        fail("usage: bench_driver <lodgate> <floor dir> <work dir> [--smoke]");
    Bench bench;
    bench.paths = {argv[1], argv[2], argv[3]};
    bench.smoke = argc > 4 && std::strcmp(argv[4], "--smoke") == 0;
    bench.sizes = bench.smoke ? SMOKE : FULL;
    char absolute[4096];
    for (std::string *path : {&bench.paths.lodgate, &bench.paths.floors, &bench.paths.work}) {
        if (path == &bench.paths.work)
            make_dir(*path);
        if (realpath(path->c_str(), absolute) == nullptr)
            fail("no such path: " + *path);
        *path = absolute;
    }
    set_up(bench);
    start_peers(bench);

    // Every run of the table takes one sample of each floor, figure and
    // peer, in turns: a machine whose speed drifts while the table runs
    // then moves them alike.
    add_floors(bench);
    add_check_figures(bench);
    add_lookup_figures(bench);
    add_other_figures(bench);
    add_peers(bench);
    std::map<std::string, Spread> measured =
        measure_in_turns(bench.sizes.runs, bench.measurements, files_to_warm(bench));
    peers_end();

    std::string no_instructions;
    std::vector<Row> instructions = instruction_rows(bench, no_instructions);
    int targets = 0;
    std::vector<Row> peers = peer_rows(bench, measured);
    if (!peers.empty()) {
        std::printf("\nPeers, the same yescrypt hash and cost (median [min-max] of %d runs;"
                    " ratio: peer / Lodgate's cold check):\n",
                    bench.sizes.runs);
        int none = 0;
        print_rows(peers, "Lodgate", none);
    }
    std::printf("\nFloors (median [min-max] of %d runs):\n", bench.sizes.runs);
    print_lines(measured, FLOOR_LINES, std::size(FLOOR_LINES));
    std::printf("\nEach figure (median [min-max] of %d runs), %s run; instructions: %s\n",
                bench.sizes.runs, bench.smoke ? "smoke" : "full",
                instructions.empty() ? ("not counted, " + no_instructions).c_str()
                                     : "counted once by perf stat, per operation");
    std::vector<Row> rows = target_rows(bench, measured);
    rows.insert(rows.end(), instructions.begin(), instructions.end());
    int missed = print_rows(rows, "floor", targets, !bench.smoke);
    print_targets_met(targets, missed, !bench.smoke);
    return 0;
}
