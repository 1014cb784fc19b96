// The two reply writers through which every command answers its peer. A
// reply is one flushed line on standard output, also copied into the trace
// log (negative ones at ERROR, positive ones at INFO).
#pragma once

// Set by the first negative reply of a command; the loop clears it after
// every command. While it is set further negative replies reach only the
// trace log, so that a peer reads exactly one per command.
extern bool negative_reply_given;

// Return what the trace-log copy returned: 0 while logging is off, else 1.
int reply_negative(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));
int reply_positive(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));
