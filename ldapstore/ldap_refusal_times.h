// How long the directory took lately to refuse a wrong password, from the
// account's entry found to the refused bind: the time that every other
// refusal (an unknown name, a locked or disabled account, an empty
// password) waits out, since the server's hash and its record of the
// failure cannot be timed from here otherwise. The last REFUSAL_TIMES_KEPT
// are kept in a file that every module on this host shares, so that a
// module started for one check knows them as a long-lived one does; without
// the file, in this process only.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

constexpr std::size_t REFUSAL_TIMES_KEPT = 16;
// Fewer known than this: no figure yet.
constexpr std::size_t REFUSAL_TIMES_NEEDED = 4;

// The file beside the account database that account_db names, named so in
// the README; empty (no account_db) keeps them in this process only.
constexpr const char REFUSAL_TIMES_FILE_NAME[] = "ldap-refusal-times";
std::string refusal_times_file(const std::string &account_db);

// Keeps the times in path from now on (opened at first use), or in this
// process only when path is empty.
void refusal_times_use_file(const std::string &path);

// Notes one wrong password's refusal; a time of limit or more is no
// refusal's (the operation timeout) and is left out.
void note_refusal_time(std::chrono::microseconds took, std::chrono::microseconds limit);

// One of the kept times below limit, drawn at random, so that the refusals
// that wait it out spread as wrong passwords' do; false while fewer than
// REFUSAL_TIMES_NEEDED are known.
bool pick_refusal_time(std::chrono::microseconds limit, std::chrono::microseconds &time);

// Counted so that tests can see which refusals were timed and which waited.
struct RefusalCounters {
    long noted = 0;   // times kept
    long picked = 0;  // times handed out to wait
};
extern RefusalCounters refusal_counters;
