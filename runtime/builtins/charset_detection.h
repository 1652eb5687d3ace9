// charset_detection.h - DETECTCHARSET over the detector of platform/charset_detection.h.
#pragma once

#include <qzbase.h>

#include <cstddef>

#include "platform/charset_detection.h"

namespace qzbase {

// DETECTCHARSET(text [, @confidence]): the detected charset's name (ASCII), else the runtime's
// default charset's name.
void detectcharset(VmStack* stack, size_t argc, Variant* result);

}  // namespace qzbase
