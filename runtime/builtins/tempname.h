// tempname.h - unique temporary names.
#pragma once

#include <qzbase.h>

namespace qzbase {

// A fresh 32-character UTF-8 name of [0-9A-Za-z]. The generator is the minimal standard linear
// congruential one (multiplier 16807, modulus 2147483647), seeded on first use from the system
// random device, the time and the clock, shared by all callers. Mended: the documented form keeps the state
// in a static without a lock; here a mutex guards it, so concurrent callers never race on it.
String tempname();

}  // namespace qzbase
