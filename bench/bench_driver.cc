// Runs every end-to-end figure of the module against the floors measured in
// the same run and prints one table: medians over several runs, their
// spread, the floor and the ratio against its target.
//   bench_driver <lodgate> <floor dir> <work dir> [--smoke]
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "accountdb/account_db.h"
#include "accountdb/password_hash.h"
#include "accountdb/user_records.h"

namespace {

using clock_type = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string &why)
{
    std::fprintf(stderr, "bench: %s\n", why.c_str());
    std::exit(1);
}

double since_us(clock_type::time_point start)
{
    return std::chrono::duration<double, std::micro>(clock_type::now() - start).count();
}

struct Spread {
    double median = 0;
    double low = 0;
    double high = 0;
};

Spread spread_of(std::vector<double> values)
{
    if (values.empty())
        fail("no values");
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

struct Measurement {
    std::string name;
    std::function<double()> once;  // one sample
};

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

// A child with its standard input and output on pipes; standard error stays.
struct Child {
    pid_t pid = -1;
    int to_child = -1;
    int from_child = -1;
    std::string buffer;
    std::size_t start = 0;

    Child() = default;
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child()
    {
        close_input();
        if (from_child >= 0)
            close(from_child);
        if (pid > 0)
            waitpid(pid, nullptr, 0);
    }
    void close_input()
    {
        if (to_child >= 0)
            close(to_child);
        to_child = -1;
    }
};

void start_child(Child &child, const std::vector<std::string> &arguments, const std::string &cwd)
{
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0)
        fail("pipe");
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    // posix_spawn shares the driver's memory until the exec, so that a
    // start costs the same however large the driver has grown; fork would
    // copy its page tables first, and late figures would pay more than the
    // floors measured at the start.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        fail("posix_spawn " + arguments[0]);
    close(input[0]);
    close(output[1]);
    child.pid = pid;
    child.to_child = input[1];
    child.from_child = output[0];
}

void write_all(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            fail("write to child");
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

// One line without its line feed; false at the end of the output.
bool read_line(Child &child, std::string &line)
{
    for (;;) {
        std::size_t end = child.buffer.find('\n', child.start);
        if (end != std::string::npos) {
            line.assign(child.buffer, child.start, end - child.start);
            child.start = end + 1;
            if (child.start > 65536) {
                child.buffer.erase(0, child.start);
                child.start = 0;
            }
            return true;
        }
        char chunk[65536];
        ssize_t got = read(child.from_child, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        child.buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

std::string expect_line(Child &child)
{
    std::string line;
    if (!read_line(child, line))
        fail("child ended early");
    return line;
}

bool starts_with(const std::string &text, const char *prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

struct Finished {
    double microseconds = 0;
    std::string output;
    long max_rss_kib = 0;
};

// Runs a process to its end with standard input closed and its whole output
// read; the time runs from fork to the reaped exit.
Finished run_process(const std::vector<std::string> &arguments, const std::string &cwd)
{
    Finished result;
    auto start = clock_type::now();
    Child child;
    start_child(child, arguments, cwd);
    child.close_input();
    char chunk[65536];
    ssize_t got;
    while ((got = read(child.from_child, chunk, sizeof chunk)) != 0) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            fail("read");
        result.output.append(chunk, static_cast<std::size_t>(got));
    }
    int status = 0;
    rusage usage{};
    if (wait4(child.pid, &status, 0, &usage) != child.pid)
        fail("wait4");
    result.microseconds = since_us(start);
    child.pid = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail("process " + arguments[0] + " failed: " + result.output);
    result.max_rss_kib = usage.ru_maxrss;
    return result;
}

double run_number(const std::vector<std::string> &arguments, const std::string &cwd)
{
    Finished finished = run_process(arguments, cwd);
    char *end = nullptr;
    double value = std::strtod(finished.output.c_str(), &end);
    if (end == finished.output.c_str())
        fail("no number from " + arguments[0]);
    return value;
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
            if (insert_users(batch.data(), batch.size()) != NERR_Success)
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

struct Row {
    std::string figure;
    std::string value;
    std::string floor;
    double ratio = 0;
    std::string target;
    bool met = false;
};

std::string show(const Spread &spread, const char *unit, double scale = 1.0)
{
    char text[128];
    std::snprintf(text, sizeof text, "%.4g %s [%.4g-%.4g]", spread.median * scale, unit,
                  spread.low * scale, spread.high * scale);
    return text;
}

std::string show_value(double value, const char *unit)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.4g %s", value, unit);
    return text;
}

Row at_most(const std::string &figure, const Spread &value, const char *unit, double scale,
            double floor, double limit)
{
    Row row{figure, show(value, unit, scale), show_value(floor * scale, unit), value.median / floor,
            "<= " + show_value(limit, "x"), false};
    row.met = row.ratio <= limit;
    return row;
}

Row at_least_rate(const std::string &figure, const Spread &rate, double floor, double limit)
{
    Row row{figure, show(rate, "/s"), show_value(floor, "/s"), rate.median / floor,
            ">= " + show_value(limit, "x"), false};
    row.met = row.ratio >= limit;
    return row;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 4)
        fail("usage: bench_driver <lodgate> <floor dir> <work dir> [--smoke]");
    Paths paths{argv[1], argv[2], argv[3]};
    bool smoke = argc > 4 && std::strcmp(argv[4], "--smoke") == 0;
    char absolute[4096];
    for (std::string *path : {&paths.lodgate, &paths.floors, &paths.work}) {
        if (path == &paths.work)
            make_dir(*path);
        if (realpath(path->c_str(), absolute) == nullptr)
            fail("no such path: " + *path);
        *path = absolute;
    }
    const int runs = smoke ? 3 : 5;
    const int spawns = smoke ? 7 : 21;
    const int check_spawns = smoke ? 3 : 7;
    const int checks_in_row = smoke ? 20 : 1000;
    const int round_trips = smoke ? 2000 : 10000;
    const int pipelined_lines = smoke ? 50000 : 200000;
    const int lookups = smoke ? 20000 : 100000;
    const int sets = smoke ? 5 : 20;
    const int big = 100000;
    const int small = 1000;

    std::string hash;
    if (hash_password(BENCH_PASSWORD, hash) != 0)
        fail("cannot hash");
    auto setup_start = clock_type::now();
    Database db_small = make_database(paths, "db1k", small, hash);
    Database db_big = make_database(paths, "db100k", big, hash);
    Database db_set = make_database(paths, "dbset", small, hash);
    std::string info_dir = make_dir(paths.work + "/db100k-info");
    write_file(info_dir + "/lodgate.ini",
               "account_db " + db_big.file + "\nlog info\npath " + info_dir + "\n");
    std::fprintf(stderr, "bench: databases ready in %.1f s (%s)\n", since_us(setup_start) / 1e6,
                 smoke ? "smoke" : "full");

    const std::string floor_process = paths.floors + "/floor_process";
    const std::string floor_pipe = paths.floors + "/floor_pipe_child";
    const std::string floor_crypt = paths.floors + "/floor_crypt";
    const std::string floor_sqlite = paths.floors + "/floor_sqlite";
    // The same verify with the hash region in 2 MiB pages, as the module maps
    // it when libcrypt is linked in; absent otherwise.
    const std::string floor_crypt_huge = paths.floors + "/floor_crypt_huge";
    const bool have_huge = access(floor_crypt_huge.c_str(), X_OK) == 0;

    // Every run of the table takes one sample of each floor and figure, in
    // turns: a machine whose speed drifts while the table runs then moves
    // figures and their floors alike.
    std::vector<Measurement> measurements;
    auto add = [&](const std::string &name, std::function<double()> once) {
        measurements.push_back({name, std::move(once)});
    };
    auto process_median = [&](std::vector<std::string> arguments, const std::string &cwd,
                              int count, const char *expected) {
        return [arguments, cwd, count, expected] {
            return median_of(count, [&] {
                Finished done = run_process(arguments, cwd);
                if (expected != nullptr && !starts_with(done.output, expected))
                    fail(arguments[0] + " " + arguments[1] + ": " + done.output);
                return done.microseconds;
            });
        };
    };

    // Floors.
    add("process", process_median({floor_process, "lodgate.ini"}, db_big.dir, spawns, "+OK"));
    // The module is a static PIE when built so; the same process linked that
    // way shows what it adds beyond the linking.
    const std::string floor_process_static = paths.floors + "/floor_process_static";
    const bool have_static = access(floor_process_static.c_str(), X_OK) == 0;
    if (have_static)
        add("process static", process_median({floor_process_static, "lodgate.ini"}, db_big.dir,
                                             spawns, "+OK"));
    add("verify", [&] {
        return run_number({floor_crypt, "verify", hash, BENCH_PASSWORD, "10"}, paths.work);
    });
    add("hash", [&] { return run_number({floor_crypt, "hash", "5"}, paths.work); });
    // Many checks in a row are timed as a whole, so their floor is as many
    // verifies timed as a whole, not a loop's median.
    auto verifies_in_a_row = [&](const std::string &program) {
        return [&, program] {
            return run_number({program, "verify", hash, BENCH_PASSWORD,
                               std::to_string(checks_in_row), "mean"},
                              paths.work);
        };
    };
    add("verify in a row", verifies_in_a_row(floor_crypt));
    // The module maps yescrypt's region in 2 MiB pages when libcrypt is
    // linked in; so does floor_crypt_huge, and a process that verifies once
    // stands for a new process's first, slower hash.
    const std::string &module_crypt = have_huge ? floor_crypt_huge : floor_crypt;
    add("verify once", process_median({module_crypt, "verify", hash, BENCH_PASSWORD, "1"},
                                      paths.work, check_spawns, nullptr));
    if (have_huge) {
        add("verify huge", [&] {
            return run_number({floor_crypt_huge, "verify", hash, BENCH_PASSWORD, "10"},
                              paths.work);
        });
        add("hash huge", [&] { return run_number({floor_crypt_huge, "hash", "5"}, paths.work); });
        add("verify huge in a row", verifies_in_a_row(floor_crypt_huge));
    }
    add("round trip", [&] {
        Child child;
        start_child(child, {floor_pipe}, paths.work);
        auto start = clock_type::now();
        for (int i = 0; i < round_trips; ++i) {
            write_all(child.to_child, "lookup user000001\n", 18);
            expect_line(child);
        }
        return since_us(start) / round_trips;
    });
    const std::string floor_lines = lookup_commands(pipelined_lines, big);
    add("pipelined line", [&] {
        Child child;
        start_child(child, {floor_pipe}, paths.work);
        return pipelined_us(child, floor_lines, pipelined_lines, "+OK lookup") / pipelined_lines;
    });
    add("point lookup", [&] {
        return run_number({floor_sqlite, "lookup", db_big.file, std::to_string(big), "20000"},
                          paths.work);
    });
    // A rate is a whole run's time over its count, so its floor is as many
    // point lookups timed as a whole: the median leaves out the slow tail
    // of pages read from the file.
    add("point lookups in a row", [&] {
        return run_number({floor_sqlite, "lookup", db_big.file, std::to_string(big),
                           std::to_string(lookups), "mean"},
                          paths.work);
    });
    // The point lookup's floor leaves out opening the database.
    add("open and look up",
        process_median({floor_sqlite, "lookup", db_big.file, std::to_string(big), "1"},
                       db_big.dir, spawns, nullptr));
    add("scan", [&] { return run_number({floor_sqlite, "scan", db_big.file}, paths.work); });
    std::string scratch = paths.work + "/commit-floor.db";
    add("commit", [&] { return run_number({floor_sqlite, "commit", scratch, "10"}, paths.work); });

    // Figures.
    add("check right", process_median({paths.lodgate, "check", "user054321", BENCH_PASSWORD},
                                      db_big.dir, check_spawns, "+OK user054321 config 0"));
    add("check wrong", process_median({paths.lodgate, "check", "user054321", "wrong-pass"},
                                      db_big.dir, check_spawns,
                                      "-ERR user054321 does not exist"));
    add("check in a row", [&] {
        Child child;
        start_session(child, paths, db_big.dir);
        std::string command = std::string("check user054321 ") + BENCH_PASSWORD + "\n";
        auto start = clock_type::now();
        for (int i = 0; i < checks_in_row; ++i) {
            write_all(child.to_child, command.data(), command.size());
            std::string line = expect_line(child);
            if (!starts_with(line, "+OK user054321"))
                fail("check reply: " + line);
        }
        return since_us(start) / checks_in_row;
    });
    add("lookup", process_median({paths.lodgate, "lookup", "user054321"}, db_big.dir, spawns,
                                 "+OK user054321 config 0"));
    const std::string lookup_lines = lookup_commands(lookups, big);
    auto lookup_rate = [&](const std::string &cwd) {
        return [&, cwd] {
            std::remove((info_dir + "/lodgate.log").c_str());
            Child child;
            start_session(child, paths, cwd);
            double rate = lookups / (pipelined_us(child, lookup_lines, lookups, "+OK user") / 1e6);
            struct stat log_state{};
            if (cwd == info_dir && (stat((info_dir + "/lodgate.log").c_str(), &log_state) != 0 ||
                                    log_state.st_size < lookups * 20))
                fail("INFO logging wrote no log file");
            return rate;
        };
    };
    add("lookup rate", lookup_rate(db_big.dir));
    add("served lookup rate", [&] {
        Child child;
        start_child(child, {floor_sqlite, "serve", db_big.file}, db_big.dir);
        write_all(child.to_child, "lookup user000001\n", 18);
        if (!starts_with(expect_line(child), "+OK user000001"))
            fail("no reply from floor_sqlite serve");
        return lookups / (pipelined_us(child, lookup_lines, lookups, "+OK user") / 1e6);
    });
    add("lookup rate info", lookup_rate(info_dir));
    add("search", [&] {
        Child child;
        start_session(child, paths, db_big.dir);
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
        if (data != big || line != "+OK 100000 entries found.")
            fail("search ended with " + std::to_string(data) + " lines and: " + line);
        return elapsed;
    });
    auto search_memory = [&](const Database &db) {
        return [&] {
            Finished done = run_process({paths.floors + "/rss_probe", paths.lodgate, "search", "*"},
                                        db.dir);
            std::string last = "+OK " + std::to_string(db.accounts) + " entries found.\nmaxrss ";
            std::size_t at = done.output.rfind(last);
            if (at == std::string::npos)
                fail("search output does not end with " + last);
            return std::strtod(done.output.c_str() + at + last.size(), nullptr);
        };
    };
    add("memory 1k", search_memory(db_small));
    add("memory 100k", search_memory(db_big));
    add("version",
        process_median({paths.lodgate, "-version"}, db_big.dir, spawns, "Quorvane's Lodgate module"));
    int set_run = 0;
    add("set", [&] {
        Child child;
        start_session(child, paths, db_set.dir);
        ++set_run;
        auto start = clock_type::now();
        for (int i = 0; i < sets; ++i) {
            std::string name = "new" + std::to_string(set_run) + "x" + std::to_string(i);
            std::string command = "set " + name + " " + BENCH_PASSWORD + "\n";
            write_all(child.to_child, command.data(), command.size());
            std::string line = expect_line(child);
            if (line != "+OK " + name + " added to database.")
                fail("set reply: " + line);
        }
        return since_us(start) / sets;
    });

    std::vector<std::string> read_files = {db_big.file, db_small.file, db_set.file, paths.lodgate};
    for (const char *floor : {"floor_process", "floor_process_static", "floor_pipe_child",
                              "floor_crypt", "floor_crypt_huge", "floor_sqlite", "rss_probe"})
        read_files.push_back(paths.floors + "/" + floor);
    std::map<std::string, Spread> measured = measure_in_turns(runs, measurements, read_files);
    auto median = [&](const char *name) { return measured.at(name).median; };

    std::vector<Row> rows;
    double login_floor = median("process") + median("verify");
    const char *pages = have_huge ? ", 2 MiB pages" : "";
    for (const char *which : {"right", "wrong"}) {
        const Spread &check = measured.at(std::string("check ") + which);
        rows.push_back(at_most(std::string("check, command line, ") + which + " password, 100k",
                               check, "ms", 1e-3, login_floor, 1.05));
        rows.push_back(at_most(std::string("  the same against a process that verifies once") +
                                   pages,
                               check, "ms", 1e-3, median("verify once"), 1.05));
    }
    const Spread &check_pipe = measured.at("check in a row");
    rows.push_back(at_most("check over one pipe, " + std::to_string(checks_in_row) +
                               " in a row, each",
                           check_pipe, "ms", 1e-3,
                           median("verify in a row") + median("round trip"), 1.02));
    if (have_huge)
        rows.push_back(at_most("  the same against as many verifies in 2 MiB pages", check_pipe,
                               "ms", 1e-3,
                               median("verify huge in a row") + median("round trip"), 1.02));
    const Spread &lookup_cli = measured.at("lookup");
    rows.push_back(at_most("lookup, command line, 100k", lookup_cli, "ms", 1e-3,
                           median("process") + median("point lookup"), 1.3));
    if (have_static)
        rows.push_back(at_most("  the same against static process + point lookup", lookup_cli,
                               "ms", 1e-3, median("process static") + median("point lookup"),
                               1.3));
    rows.push_back(at_most("  the same against a process that opens SQLite, looks up once",
                           lookup_cli, "ms", 1e-3, median("open and look up"), 1.3));
    double floor_rate = 1e6 / (median("point lookups in a row") + median("pipelined line"));
    const Spread &rate = measured.at("lookup rate");
    rows.push_back(at_least_rate("lookup over one pipe, pipelined, 100k, logging off", rate,
                                 floor_rate, 0.7));
    rows.push_back(at_least_rate("  the same against SQLite lookups answered over the pipe", rate,
                                 median("served lookup rate"), 0.7));
    rows.push_back(at_least_rate("lookup over one pipe, pipelined, 100k, INFO logging",
                                 measured.at("lookup rate info"), floor_rate, 0.35));
    rows.push_back(at_most("search * over one pipe, 100k", measured.at("search"), "ms", 1e-3,
                           median("scan") + big * median("pipelined line"), 2.0));
    {
        double growth = median("memory 100k") - median("memory 1k");
        Row row{"peak memory of search *, 100k (floor: 1k)", show(measured.at("memory 100k"), "KiB"),
                show(measured.at("memory 1k"), "KiB"), growth, "growth <= 1024 KiB",
                growth <= 1024};
        rows.push_back(row);
    }
    rows.push_back(at_most("-version", measured.at("version"), "ms", 1e-3, median("process"), 1.2));
    if (have_static)
        rows.push_back(at_most("  the same against a static process", measured.at("version"),
                               "ms", 1e-3, median("process static"), 1.2));
    const Spread &set = measured.at("set");
    rows.push_back(at_most("set of new accounts, one after another, each", set, "ms", 1e-3,
                           median("hash") + median("commit"), 1.1));
    if (have_huge)
        rows.push_back(at_most("  the same against a new hash in 2 MiB pages + commit", set, "ms",
                               1e-3, median("hash huge") + median("commit"), 1.1));

    std::printf("\nFloors (median [min-max] of %d runs):\n", runs);
    struct FloorLine {
        const char *name;
        const char *label;
        bool rate = false;  // per second, not a time
    };
    const FloorLine floors[] = {
        {"process", "process: start, read one file, one line"},
        {"process static", "the same process, static PIE"},
        {"verify", "yescrypt verify (crypt_rn), loop median"},
        {"verify in a row", "yescrypt verify, as many as checks, timed whole"},
        {"verify once", "yescrypt: a process that verifies once"},
        {"hash", "yescrypt new hash (gensalt + crypt_rn)"},
        {"verify huge", "yescrypt verify, 2 MiB pages, loop median"},
        {"verify huge in a row", "yescrypt verify, 2 MiB pages, timed whole"},
        {"hash huge", "yescrypt new hash, 2 MiB pages"},
        {"round trip", "pipe round trip"},
        {"pipelined line", "pipelined line"},
        {"point lookup", "SQLite prepared point lookup, 100k, median"},
        {"point lookups in a row", "SQLite point lookups, 100k, timed whole"},
        {"served lookup rate", "SQLite lookups answered over the pipe", true},
        {"open and look up", "SQLite alone: a process that looks up once"},
        {"scan", "SQLite full scan, 100k"},
        {"commit", "SQLite synchronous commit (WAL, FULL)"},
    };
    for (const FloorLine &floor : floors) {
        auto found = measured.find(floor.name);
        if (found == measured.end())
            continue;
        bool micro = found->second.median < 1000;
        std::string value = floor.rate
                                ? show(found->second, "/s")
                                : show(found->second, micro ? "us" : "ms", micro ? 1.0 : 1e-3);
        std::printf("  %-48s %s\n", floor.label, value.c_str());
    }

    std::printf("\n| %-48s | %-32s | %-14s | %-8s | %-18s | %-4s |\n", "figure",
                "median [min-max]", "floor", "ratio", "target", "met");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(50, '-').c_str(),
                std::string(34, '-').c_str(), std::string(16, '-').c_str(),
                std::string(10, '-').c_str(), std::string(20, '-').c_str(),
                std::string(6, '-').c_str());
    int missed = 0;
    int targets = 0;
    for (const Row &row : rows) {
        char ratio[32];
        if (row.target.compare(0, 6, "growth") == 0)
            std::snprintf(ratio, sizeof ratio, "%+.0f KiB", row.ratio);
        else
            std::snprintf(ratio, sizeof ratio, "%.3f", row.ratio);
        std::printf("| %-48s | %-32s | %-14s | %-8s | %-18s | %-4s |\n", row.figure.c_str(),
                    row.value.c_str(), row.floor.c_str(), ratio, row.target.c_str(),
                    row.met ? "yes" : "NO");
        // Indented rows show a figure against another floor: no target.
        if (row.figure.compare(0, 2, "  ") == 0)
            continue;
        ++targets;
        missed += row.met ? 0 : 1;
    }
    std::printf("\n%d of %d targets met (%s run).\n", targets - missed, targets,
                smoke ? "smoke" : "full");
    return 0;
}
