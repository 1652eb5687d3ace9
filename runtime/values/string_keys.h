// string_keys.h - String keys of hashed and ordered maps: case-insensitive hashing and equality,
// and the case-sensitive code-point order of module names and the environment.
#pragma once

#include <qzbase.h>

#include <map>

namespace qzbase {

// Hash and equality of String keys under Collation::unicode_machine_ci.
struct string_ci_hash {
  size_t operator()(const String& s) const {
    return Collation::unicode_machine_ci->hash(s.read(), s.end(), s.get_charset());
  }
};
struct string_ci_equal {
  bool operator()(const String& a, const String& b) const {
    return Collation::unicode_machine_ci->compare(a.read(), a.end(), a.get_charset(), b.read(), b.end(),
                                                  b.get_charset()) == 0;
  }
};
// Order of String keys under Collation::unicode_machine (case-sensitive).
struct string_machine_less {
  bool operator()(const String& a, const String& b) const {
    return Collation::unicode_machine->compare(a.read(), a.end(), a.get_charset(), b.read(), b.end(),
                                               b.get_charset()) < 0;
  }
};

// An ordered map from String keyed in code-point order (the map of module names).
template <class T>
using string_key_map = std::map<String, T, string_machine_less>;

}  // namespace qzbase
