// The character that separates path components: the backslash on Windows,
// '/' on POSIX. The path operations take it as a parameter so that both
// forms can be tested on one machine.
#pragma once

extern const char PATH_SEPARATOR;
