// location_codec.cpp - source locations as differences from the one before.
#include "vm/location_codec.h"

namespace qzbase {

namespace {

constexpr unsigned kLocationFields = 8;

constexpr uint32_t document_location_st::*kFields[kLocationFields] = {
    &document_location_st::begin_char, &document_location_st::begin_byte, &document_location_st::begin_line,
    &document_location_st::begin_column, &document_location_st::end_char, &document_location_st::end_byte,
    &document_location_st::end_line, &document_location_st::end_column,
};

// The guess for field k of c from the location p before it and the fields of c before k.
int64_t guess(const document_location_st& p, const document_location_st& c, unsigned k) {
  auto v = [](uint32_t x) { return static_cast<int64_t>(x); };
  switch (k) {
    case 0: return v(p.begin_char);
    case 1: return v(c.begin_char) + v(p.begin_byte) - v(p.begin_char);
    case 2: return v(p.begin_line);
    case 3: return v(p.begin_column) + v(c.begin_char) - v(p.begin_char);
    case 4: return v(c.begin_char) + v(p.end_char) - v(p.begin_char);
    case 5: return v(c.end_char) + v(p.end_byte) - v(p.end_char);
    case 6: return v(c.begin_line) + v(p.end_line) - v(p.begin_line);
    default: return v(p.end_column) + v(c.end_char) - v(p.end_char);
  }
}

}  // namespace

void put_varint(std::vector<uint8_t>& out, uint64_t v) {
  QZ_TRACE;
  while (v >= 0x80) {
    out.push_back(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<uint8_t>(v));
}

uint64_t get_varint(const uint8_t*& p) {
  QZ_TRACE;
  uint64_t v = 0;
  for (unsigned shift = 0;; shift += 7) {
    const uint8_t byte = *p++;
    v |= static_cast<uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0 || shift >= 63) return v;
  }
}

void put_location(std::vector<uint8_t>& out, document_location_st* previous, const document_location_st& location) {
  QZ_TRACE;
  const size_t flags_at = out.size();
  out.push_back(0);
  document_location_st current = *previous;
  uint8_t flags = 0;
  for (unsigned k = 0; k < kLocationFields; ++k) {
    const int64_t error = static_cast<int64_t>(location.*kFields[k]) - guess(*previous, current, k);
    current.*kFields[k] = location.*kFields[k];
    if (error != 0) {
      flags = static_cast<uint8_t>(flags | (1u << k));
      put_varint(out, zigzag(error));
    }
  }
  out[flags_at] = flags;
  *previous = location;
}

void get_location(const uint8_t*& p, document_location_st* location) {
  QZ_TRACE;
  const uint8_t flags = *p++;
  const document_location_st previous = *location;
  for (unsigned k = 0; k < kLocationFields; ++k) {
    int64_t value = guess(previous, *location, k);
    if (flags & (1u << k)) value += unzigzag(get_varint(p));
    (*location).*kFields[k] = static_cast<uint32_t>(value);
  }
}

}  // namespace qzbase
