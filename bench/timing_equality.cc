// Whether a refused logon tells why it was refused by its time. For each
// store (an account database, a directory on a slapd of its own), with its
// lockout off and on, and both in one long-lived process (LogonUserW over
// the store, as a module on one pipe) and with a module started for each
// check (`lodgate check`, timed to its exit, as a daemon sees it): every
// way to be refused, tried in one random interleaved order, so that load
// falls on every kind alike. Prints each kind's median and every pair's
// ratio of medians, and the same with each try set against the tries around
// it (load on a shared machine comes and goes over seconds); the target is
// every pair within 5%. A second account's wrong password shows how far
// two kinds that cost the same come apart in the run.
// Usage: timing_equality [tries of each kind] [sqlite|ldap]
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_process.h"
#include "bench/timing_sites.h"
#include "platform/account_service.h"
#include "platform/last_error.h"
#include "tests/test_support.h"

namespace {

constexpr double WITHIN = 1.05;
// Warm caches and connections, and let the stores learn from a policy change.
constexpr int WARM_UP_TRIES = 20;
constexpr const char REFUSAL[] = "does not exist or password incorrect.";

struct Tally {
    int pairs = 0;
    int within = 0;           // by their medians
    int within_relative = 0;  // by their medians against the neighbours
};

double logon_in_process(const RefusalKind &kind)
{
    std::u16string name(kind.name, kind.name + std::strlen(kind.name));
    std::u16string password(kind.password, kind.password + std::strlen(kind.password));
    HANDLE token = nullptr;
    clock_type::time_point start = clock_type::now();
    BOOL accepted = LogonUserW(name.c_str(), nullptr, password.c_str(), LOGON32_LOGON_INTERACTIVE,
                               LOGON32_PROVIDER_DEFAULT, &token);
    double took = since_us(start);
    if (accepted || GetLastError() != ERROR_LOGON_FAILURE)
        fail(std::string("the logon of ") + kind.name + " was not refused as a wrong password");
    return took;
}

double logon_by_module(const TimingSite &site, const RefusalKind &kind)
{
    Finished done;
    if (run_process_status({LODGATE_MODULE, "check", kind.name, kind.password}, site.work, done) !=
            0 ||
        done.output.find(REFUSAL) == std::string::npos)
        fail(std::string("the module answered the check of ") + kind.name + ": " + done.output);
    return done.microseconds;
}

double try_once(const TimingSite &site, const RefusalKind &kind, bool per_check)
{
    return per_check ? logon_by_module(site, kind) : logon_in_process(kind);
}

double quantile(std::vector<double> values, double at)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(at * static_cast<double>(values.size() - 1) + 0.5)];
}

// Tries on each side that a try is set against: a few seconds, within which
// the load that others put on the machine changes little.
constexpr std::size_t NEIGHBOURS = 12;

// Each try's time over the median of the tries around it, of every kind
// (itself left out, so that no try counts exactly 1): load that comes and
// goes over seconds then falls out of the comparison.
std::vector<double> against_neighbours(const std::vector<double> &series)
{
    std::vector<double> relative;
    for (std::size_t i = 0; i < series.size(); ++i) {
        std::vector<double> around;
        for (std::size_t j = i > NEIGHBOURS ? i - NEIGHBOURS : 0;
             j < std::min(series.size(), i + NEIGHBOURS + 1); ++j)
            if (j != i)
                around.push_back(series[j]);
        relative.push_back(around.empty() ? 1.0 : series[i] / quantile(around, 0.5));
    }
    return relative;
}

// The larger of a ratio and its inverse.
double apart(double ratio)
{
    return std::max(ratio, 1.0 / ratio);
}

struct KindFigures {
    std::vector<double> times;     // microseconds
    std::vector<double> relative;  // against the neighbours
};

void print_pairs(const std::vector<RefusalKind> &kinds, const std::vector<KindFigures> &figures,
                 Tally &tally)
{
    std::printf("  pairs: ratio of medians; of medians against the neighbours\n");
    double worst = 1.0;
    double worst_relative = 1.0;
    for (std::size_t a = 0; a < kinds.size(); ++a)
        for (std::size_t b = a + 1; b < kinds.size(); ++b) {
            double ratio = quantile(figures[b].times, 0.5) / quantile(figures[a].times, 0.5);
            double relative =
                quantile(figures[b].relative, 0.5) / quantile(figures[a].relative, 0.5);
            worst = std::max(worst, apart(ratio));
            worst_relative = std::max(worst_relative, apart(relative));
            ++tally.pairs;
            tally.within += apart(ratio) <= WITHIN;
            tally.within_relative += apart(relative) <= WITHIN;
            std::printf("    %-34s / %-34s %6.3f %6.3f%s\n", kinds[b].label, kinds[a].label, ratio,
                        relative,
                        apart(ratio) <= WITHIN && apart(relative) <= WITHIN ? "" : "  (beyond 5%)");
        }
    std::printf("  largest difference: %.1f%% between medians, %.1f%% against the neighbours\n",
                100.0 * (worst - 1.0), 100.0 * (worst_relative - 1.0));
}

void run_round(const TimingSite &site, bool lockout, bool per_check, int tries, Tally &tally)
{
    std::vector<RefusalKind> kinds;
    for (const RefusalKind &kind : site.kinds)
        if (lockout || !kind.with_lockout_only)
            kinds.push_back(kind);
    std::vector<std::size_t> order;
    for (int i = 0; i < tries; ++i)
        for (std::size_t kind = 0; kind < kinds.size(); ++kind)
            order.push_back(kind);
    std::shuffle(order.begin(), order.end(), std::mt19937(std::random_device{}()));
    for (int i = 0; i < WARM_UP_TRIES; ++i)
        for (const RefusalKind &kind : kinds)
            try_once(site, kind, per_check);
    std::vector<double> series;
    for (std::size_t kind : order)
        series.push_back(try_once(site, kinds[kind], per_check));
    std::vector<double> relative = against_neighbours(series);
    std::vector<KindFigures> figures(kinds.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        figures[order[i]].times.push_back(series[i]);
        figures[order[i]].relative.push_back(relative[i]);
    }
    std::printf("\n%s: lockout %s, %s, %d tries of each in random order\n", site.store,
                lockout ? "on" : "off", per_check ? "a module per check" : "one long-lived process",
                tries);
    for (std::size_t kind = 0; kind < kinds.size(); ++kind) {
        const std::vector<double> &times = figures[kind].times;
        std::printf("  %-34s median %8.2f ms (10%% %7.2f, 90%% %7.2f), against the neighbours "
                    "%5.3f\n",
                    kinds[kind].label, quantile(times, 0.5) / 1000, quantile(times, 0.1) / 1000,
                    quantile(times, 0.9) / 1000, quantile(figures[kind].relative, 0.5));
    }
    print_pairs(kinds, figures, tally);
}

void run_site(TimingSite &site, int tries, Tally &tally)
{
    for (bool lockout : {false, true}) {
        if (!site.set_lockout(site, lockout))
            fail(std::string("cannot turn the lockout of ") + site.store + (lockout ? " on" : " off"));
        if (!choose_site_store(site))
            fail(std::string("the store ") + site.store + " did not open");
        run_round(site, lockout, false, tries, tally);
        run_round(site, lockout, true, tries, tally);
    }
}

// Kept until the program ends, also by fail(): their servers stop and the
// files go then, the work directory last.
TempDir work;
std::vector<TimingSite> sites;

}  // namespace

int main(int argc, char **argv)
{
    int tries = argc > 1 ? std::atoi(argv[1]) : 200;
    std::string only = argc > 2 ? argv[2] : "";
    if (tries < 1 || (only != "" && only != "sqlite" && only != "ldap"))
        fail("usage: timing_equality [tries of each kind] [sqlite|ldap]");
    std::string why;
    for (const char *store : {"sqlite", "ldap"}) {
        if (only != "" && only != store)
            continue;
        std::string directory = work.file(store);
        mkdir(directory.c_str(), 0700);
        sites.emplace_back();
        bool made = std::strcmp(store, "sqlite") == 0
                        ? make_sqlite_site(directory, sites.back(), why)
                        : make_directory_site(directory, sites.back(), why);
        if (!made)
            fail(why);
    }
    Tally tally;
    for (TimingSite &site : sites)
        run_site(site, tries, tally);
    std::printf("\npairs within 5%%: %d of %d by their medians, %d of %d against the neighbours\n",
                tally.within, tally.pairs, tally.within_relative, tally.pairs);
    return 0;
}
