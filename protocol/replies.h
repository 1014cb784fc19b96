// The two reply writers through which every command answers its peer. A
// reply is one flushed line on standard output, also copied into the trace
// log (negative ones at ERROR, positive ones at INFO).
#pragma once

// Set by the first negative reply of a command; the loop clears it after
// every command. While it is set further negative replies reach only the
// trace log, so that a peer reads exactly one per command.
extern bool negative_reply_given;

// Set by a program that speaks no line protocol (lodgate-auth): its replies
// then reach the trace log alone, so that its log reads as the module's.
extern bool replies_traced_only;

// Return what the trace-log copy returned: 0 while logging is off, else 1.
int reply_negative(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));
int reply_positive(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));
