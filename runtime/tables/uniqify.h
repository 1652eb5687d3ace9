// uniqify.h - valid, unique and short enough names for fields and index tags.
//
// Field names at table creation and tag names at INDEX ON go through the same rule: cleaned into
// a symbol in the table's character set, cut to a byte limit, and numbered ("NAME2", "NAME3", ...)
// while they collide, without regard to case, with a name already taken.
#pragma once

#include <qzbase.h>

#include <set>

namespace qzbase {

// Orders names without regard to case (Collation::unicode_machine_ci), across character sets.
struct string_less_ci {
  bool operator()(const String& a, const String& b) const;
};
using string_set_ci = std::set<String, string_less_ci>;

// The name cleaned into a symbol in cs, cut to at most max_bytes bytes (whole characters) and
// made unique among names. The flags report what had to change: invalid characters (including
// characters cs cannot hold), a duplicate, a cut. names is not changed: the caller adds the
// result when it takes the name.
String uniqify(const string_set_ci& names, const String& name, const Charset* cs, size_t max_bytes, bool* invalid,
               bool* duplicate, bool* too_long);

}  // namespace qzbase
