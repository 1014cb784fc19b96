// Escaping of values that go into search filters (RFC 4515) and into
// distinguished names (RFC 4514), so that no name can widen a search or
// change where an entry lives.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Every *, (, ), \ and NUL as \XX; other bytes as they are.
std::string escape_filter_value(std::string_view value);

// An attribute value for an RDN: , + " \ < > ; = and NUL escaped, and a
// leading space or #, or a trailing space.
std::string escape_dn_value(std::string_view value);

// "(attribute=escaped value)"
std::string equality_filter(const char *attribute, std::string_view value);

// A filter on attribute that holds every name of shape (a NameShape, in
// account_backend.h) and perhaps more, for a case-insensitive string that
// the server normalizes as OpenLDAP does (NFKC, case folded, runs of
// spaces as one); empty when no part of the shape is safe to ask for.
std::string shape_filter(const char *attribute, const std::vector<std::string> &shape);
