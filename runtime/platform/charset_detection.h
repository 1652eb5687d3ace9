// charset_detection.h - guessing the character set of raw text, shared by DETECTCHARSET and by
// the whole-file readers (FileToString).
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

// 1: ICU's detector. 0 is a broken invariant; any other value detects nothing.
enum DetectCharsetMech : int {
  DETECT_CHARSET_NONE = 0,
  DETECT_CHARSET_ICU = 1,
};

// Confidence (0 .. 100) a detection must exceed to count.
constexpr int kDetectCharsetThreshold = 79;

// The charset of the text's bytes, or null when nothing was detected with enough confidence or
// the detector named a charset other than the UTF forms. A UTF charset whose "-bom" twin's mark
// starts the text (and the text is longer than it) gives the twin. *confidence (may be null)
// receives the detector's confidence, 0 when it found nothing.
const Charset* detect_charset(const String* text, DetectCharsetMech mech, int* confidence);
const Charset* _icu_c_detect_charset(const String* text, int* confidence);
// The same over a byte range.
const Charset* detect_charset_bytes(const char* bytes, size_t size, DetectCharsetMech mech, int* confidence);

}  // namespace qzbase
