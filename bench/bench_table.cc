#include "bench/bench_table.h"

#include <algorithm>
#include <cstdio>

#include "bench/bench_process.h"

Spread spread_of(std::vector<double> values)
{
    if (values.empty())
        fail("no values");
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

std::string show(const Spread &spread, const char *unit, double scale)
{
    char text[128];
    std::snprintf(text, sizeof text, "%.5g %s [%.5g-%.5g]", spread.median * scale, unit,
                  spread.low * scale, spread.high * scale);
    return text;
}

std::string show_value(double value, const char *unit)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.5g %s", value, unit);
    return text;
}

namespace {

std::string target_text(const char *relation, double limit, double was_limit)
{
    if (limit > 0)
        return std::string(relation) + " " + show_value(limit, "x");
    if (was_limit > 0)
        return std::string("(was ") + relation + " " + show_value(was_limit, "x") + ")";
    return "";
}

}  // namespace

Row at_most(const std::string &figure, const Spread &value, const char *unit, double scale,
            double floor, double limit, double was_limit)
{
    Row row{figure, show(value, unit, scale), show_value(floor * scale, unit), value.median / floor,
            target_text("<=", limit, was_limit)};
    row.met = row.ratio <= limit;
    return row;
}

Row at_least_rate(const std::string &figure, const Spread &rate, double floor, double limit,
                  double was_limit)
{
    Row row{figure, show(rate, "/s"), show_value(floor, "/s"), rate.median / floor,
            target_text(">=", limit, was_limit)};
    row.met = row.ratio >= limit;
    return row;
}

Row growth_at_most(const std::string &figure, const Spread &later, const Spread &earlier,
                   double limit_kib, bool information)
{
    double growth = later.median - earlier.median;
    std::string target = "growth <= " + show_value(limit_kib, "KiB");
    Row row{figure, show(later, "KiB"), show(earlier, "KiB"), growth,
            information ? "(" + target + ")" : target, growth <= limit_kib};
    row.growth = true;
    return row;
}

void print_lines(const std::map<std::string, Spread> &measured, const NamedLine *lines,
                 std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        auto found = measured.find(lines[i].name);
        if (found == measured.end())
            continue;
        bool micro = found->second.median < 1000;
        std::string value = lines[i].rate
                                ? show(found->second, "/s")
                                : show(found->second, micro ? "us" : "ms", micro ? 1.0 : 1e-3);
        std::printf("  %-52s %s\n", lines[i].label, value.c_str());
    }
}

int print_rows(const std::vector<Row> &rows, const char *floor_header, int &targets,
               bool judged)
{
    std::printf("| %-58s | %-32s | %-20s | %-8s | %-22s | %-4s |\n", "figure",
                "median [min-max]", floor_header, "ratio", "target", "met");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(60, '-').c_str(),
                std::string(34, '-').c_str(), std::string(22, '-').c_str(),
                std::string(10, '-').c_str(), std::string(24, '-').c_str(),
                std::string(6, '-').c_str());
    int missed = 0;
    targets = 0;
    for (const Row &row : rows) {
        char ratio[32];
        std::snprintf(ratio, sizeof ratio, row.growth ? "%+.0f KiB" : "%.3f", row.ratio);
        bool information = row.target.empty() || row.target[0] == '(';
        std::printf("| %-58s | %-32s | %-20s | %-8s | %-22s | %-4s |\n", row.figure.c_str(),
                    row.value.c_str(), row.floor.c_str(), ratio, row.target.c_str(),
                    information || !judged ? "-" : row.met ? "yes" : "NO");
        if (information)
            continue;
        ++targets;
        missed += row.met ? 0 : 1;
    }
    return missed;
}

void print_targets_met(int targets, int missed, bool judged)
{
    if (judged)
        std::printf("targets met: %d of %d\n", targets - missed, targets);
    else
        std::printf("targets met: not judged (smoke run: too few samples to tell; %d targets)\n",
                    targets);
}
