// charset_detection.cpp - ICU character-set detection.
#include "platform/charset_detection.h"

#include <unicode/ucsdet.h>

#include <climits>
#include <cstring>
#include <memory>

#include "values/charset_registry.h"

namespace qzbase {

namespace {

// The detector names that count; any other guess is too unreliable to relabel text with.
constexpr const char* kAcceptedNames[] = {"UTF-8", "UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE"};

bool accepted_name(const char* name) {
  if (name == nullptr) return false;
  for (const char* accepted : kAcceptedNames) {
    if (std::strcmp(name, accepted) == 0) return true;
  }
  return false;
}

struct detector_closer {
  void operator()(UCharsetDetector* detector) const { ucsdet_close(detector); }
};

const Charset* icu_detect(const char* bytes, size_t size, int* confidence) {
  if (confidence) *confidence = 0;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UCharsetDetector, detector_closer> detector(ucsdet_open(&status));
  if (U_FAILURE(status) || !detector) return nullptr;
  // ICU takes a 32-bit length; the start of a larger text is enough to judge it.
  int32_t length = size > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(size);
  ucsdet_setText(detector.get(), bytes, length, &status);
  if (U_FAILURE(status)) return nullptr;
  const UCharsetMatch* match = ucsdet_detect(detector.get(), &status);
  if (U_FAILURE(status) || match == nullptr) return nullptr;
  const char* name = ucsdet_getName(match, &status);
  if (U_FAILURE(status)) return nullptr;
  int32_t found = ucsdet_getConfidence(match, &status);
  if (U_FAILURE(status)) return nullptr;
  if (confidence) *confidence = found;
  if (found <= kDetectCharsetThreshold || !accepted_name(name)) return nullptr;

  const Charset* cs = get_charset_by_name(name);
  if (cs == nullptr) return nullptr;
  const Charset* twin = get_bom_charset(cs);
  if (twin != nullptr && size > twin->bom_length() && std::memcmp(bytes, twin->bom(), twin->bom_length()) == 0) {
    return twin;
  }
  return cs;
}

}  // namespace

const Charset* detect_charset_bytes(const char* bytes, size_t size, DetectCharsetMech mech, int* confidence) {
  QZ_TRACE;
  if (mech == DETECT_CHARSET_NONE) throw_assert_failed();
  if (mech != DETECT_CHARSET_ICU) {
    if (confidence) *confidence = 0;
    return nullptr;
  }
  return icu_detect(bytes, size, confidence);
}

const Charset* _icu_c_detect_charset(const String* text, int* confidence) {
  QZ_TRACE;
  return icu_detect(text->read(), text->size(), confidence);
}

const Charset* detect_charset(const String* text, DetectCharsetMech mech, int* confidence) {
  QZ_TRACE;
  return detect_charset_bytes(text->read(), text->size(), mech, confidence);
}

}  // namespace qzbase
