// runtime_errors.h - the number of the RuntimeError a call raises, for tests that check which
// error a piece of code ends in.
#pragma once

#include <qzbase.h>

#include <functional>
#include <string>

namespace qzbase::testing_errors {

// The code of the RuntimeError that f() throws; 0 when it returns normally. Any other exception
// passes through, so a wrong kind of failure still fails the test.
template <class F>
int error_code(F f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.code;
  }
  return 0;
}

// What body raised: whether a RuntimeError, its code and its detail as UTF-8.
struct Raised {
  bool error = false;
  int code = 0;
  std::string detail;
};

inline Raised raised(const std::function<void()>& body) {
  Raised r;
  try {
    body();
  } catch (const RuntimeError& e) {
    r.error = true;
    r.code = e.code;
    r.detail = e.detail.u8str();
  }
  return r;
}

}  // namespace qzbase::testing_errors
