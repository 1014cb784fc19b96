// Formatting of the one-line texts that reach a peer or the trace log.
#pragma once

#include <cstdarg>
#include <cstddef>

// Replies and trace messages are formatted into buffers of this size: a
// line holds at most 1023 characters, its line feed included.
constexpr std::size_t LINE_BUFFER_SIZE = 1024;

// Formats printf-style into buffer (LINE_BUFFER_SIZE bytes) and appends a
// line feed when the text lacks one and is shorter than 1023 characters. A
// text cut at the bound ends with a line feed instead of its last character,
// and every other control character (C0, DEL, C1) becomes a space, so that a word echoed
// from a peer can never split the line, forge a reply of its own or steer
// the terminal an administrator reads the log on.
// Returns the length of the line.
std::size_t format_line(char *buffer, const char *format, va_list arguments);

// Turns every control character (C0, DEL, and C1 in UTF-8) into a space,
// but a final line feed. Returns the length of the text.
std::size_t flatten_line_breaks(char *text);
