// unavailable.h - entry points of registered rows whose family is not built: each raises 1001
// ("Feature '%s' is not available.") with its row's name.
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

// A row name as a template argument, so that every stub is its own function.
template <size_t N>
struct row_name {
  char text[N];
  constexpr row_name(const char (&s)[N]) {  // NOLINT: implicit on purpose
    for (size_t i = 0; i < N; ++i) text[i] = s[i];
  }
};

template <row_name Name>
void unavailable_function(VmStack*, size_t, Variant*) {
  QZ_TRACE;
  throw RuntimeError(1001, String(Name.text));
}

template <row_name Name>
void unavailable_command(VmStack*, size_t) {
  QZ_TRACE;
  throw RuntimeError(1001, String(Name.text));
}

template <row_name Name>
Object* unavailable_class(VmStack*, Class*) {
  QZ_TRACE;
  throw RuntimeError(1001, String(Name.text));
}

}  // namespace qzbase
