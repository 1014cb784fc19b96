// Small text operations shared by every subsystem.
#pragma once

#include <cstddef>

// Answers like strcmp, 0 for equal, so it reads "same_text(a, b) == 0": 0
// when both texts are present and equal (case-sensitive); non-zero when
// they differ or either is absent, so two absent texts differ. Every command
// word, option word, key and level word is compared through it, and the
// daemons rely on that exactness.
int same_text(const char *a, const char *b);

// Copies at most n characters of source and terminates the copy; position n
// is terminated too, so destination needs room for n + 1. An absent source
// gives the empty text. Returns the terminator's position, or nullptr when
// there is no destination.
char *copy_bounded(char *destination, const char *source, std::size_t n);

// Appends source so that the whole text holds at most n characters (a text
// already longer is cut to n). Returns where the appended part begins.
char *append_bounded(char *buffer, const char *source, std::size_t n);
