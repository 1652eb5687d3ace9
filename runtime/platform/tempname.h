// tempname.h - unique temporary names.
#pragma once

#include <qzbase.h>

namespace qzbase {

// A fresh 32-character UTF-8 name of [0-9A-Za-z]. The generator is the minimal standard linear
// congruential one (multiplier 16807, modulus 2147483647), seeded on first use from the system
// random device, the time and the clock, shared by all callers. A mutex guards the generator's state:
// without it, concurrent callers race on the state and can draw the same name.
String tempname();

}  // namespace qzbase
