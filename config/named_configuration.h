// Reading one configuration file named on a command line (-c FILE).
#pragma once

// FILE must be NAME.ini, NAME without a dot: the module's own pair of names,
// so that a path line in it opens NAME.log, never a file of another kind.
// 1 when exactly that file was read; 0 when it is named otherwise, cannot
// be read, another candidate was read in its place, or its log file could
// not be opened.
int load_named_configuration(const char *file);
