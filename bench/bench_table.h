// The benchmark's results: spreads of samples and the rows of the printed
// tables, each a figure against its floor.
#pragma once

#include <map>
#include <string>
#include <vector>

struct Spread {
    double median = 0;
    double low = 0;
    double high = 0;
};

Spread spread_of(std::vector<double> values);

// A figure against a floor. A row without a target is information: it is
// printed, and counts neither as met nor as missed.
struct Row {
    std::string figure;
    std::string value;
    std::string floor;
    double ratio = 0;
    std::string target;
    bool met = false;
    bool growth = false;  // ratio is a difference in KiB
};

std::string show(const Spread &spread, const char *unit, double scale = 1.0);
std::string show_value(double value, const char *unit);

// limit <= 0: information, the old limit shown as was_limit when above 0.
Row at_most(const std::string &figure, const Spread &value, const char *unit, double scale,
            double floor, double limit, double was_limit = 0);
Row at_least_rate(const std::string &figure, const Spread &rate, double floor, double limit,
                  double was_limit = 0);
// A later sample against an earlier one: met while it grew by at most
// limit_kib.
Row growth_at_most(const std::string &figure, const Spread &later, const Spread &earlier,
                   double limit_kib, bool information);

struct NamedLine {
    const char *name;
    const char *label;
    bool rate = false;  // per second, not a time
};

// "  label  median [min-max]" for each name measured.
void print_lines(const std::map<std::string, Spread> &measured, const NamedLine *lines,
                 std::size_t count);
// Prints the rows as one table; returns the number of targets missed and
// sets targets to the number of rows with one. Unjudged (a smoke run, whose
// samples are too few to tell), the met column stays empty.
int print_rows(const std::vector<Row> &rows, const char *floor_header, int &targets,
               bool judged = true);
// The table's last line: "targets met: N of M", or that a smoke run judges
// none.
void print_targets_met(int targets, int missed, bool judged);
