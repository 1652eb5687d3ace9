// runtime_errors.h - the number of the RuntimeError a call raises, for tests that check which
// error a piece of code ends in.
#pragma once

#include <qzbase.h>

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

}  // namespace qzbase::testing_errors
