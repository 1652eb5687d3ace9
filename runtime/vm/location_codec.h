// location_codec.h - source locations written as small differences from the one before.
//
// A run of operations compiled from one text has locations that differ from their neighbours in a
// field or two: each field is guessed from the location before and the fields of this one already
// known (same line, same length, ASCII text), and only a wrong guess costs bytes: a flag byte,
// then for each wrong field its error as a zigzag varint. Typically three to five bytes a location.
//
// Out is any container of bytes with push_back (a std::deque grows without copying what it holds
// and gives memory back as it is consumed from the front); In is an iterator over such bytes.
#pragma once

#include <qzbase.h>

#include <cstdint>

namespace qzbase {

inline uint64_t zigzag(int64_t v) { return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63); }
inline int64_t unzigzag(uint64_t v) { return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1); }

template <class Out>
void put_varint(Out& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<uint8_t>(v));
}

// Reads one varint at p and moves p past it. The caller guarantees the bytes are there.
template <class In>
uint64_t get_varint(In& p) {
  uint64_t v = 0;
  for (unsigned shift = 0;; shift += 7) {
    const uint8_t byte = *p;
    ++p;
    v |= static_cast<uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0 || shift >= 63) return v;
  }
}

namespace location_codec {

inline constexpr unsigned kFieldCount = 8;

inline constexpr uint32_t document_location_st::*kFields[kFieldCount] = {
    &document_location_st::begin_char, &document_location_st::begin_byte, &document_location_st::begin_line,
    &document_location_st::begin_column, &document_location_st::end_char, &document_location_st::end_byte,
    &document_location_st::end_line, &document_location_st::end_column,
};

// The guess for field k of c from the location p before it and the fields of c before k.
inline int64_t guess(const document_location_st& p, const document_location_st& c, unsigned k) {
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

}  // namespace location_codec

// Appends location as its difference from *previous, which then becomes location.
template <class Out>
void put_location(Out& out, document_location_st* previous, const document_location_st& location) {
  using namespace location_codec;
  uint64_t errors[kFieldCount];
  document_location_st current = *previous;
  uint8_t flags = 0;
  for (unsigned k = 0; k < kFieldCount; ++k) {
    const int64_t error = static_cast<int64_t>(location.*kFields[k]) - guess(*previous, current, k);
    current.*kFields[k] = location.*kFields[k];
    errors[k] = zigzag(error);
    if (error != 0) flags = static_cast<uint8_t>(flags | (1u << k));
  }
  out.push_back(flags);
  for (unsigned k = 0; k < kFieldCount; ++k) {
    if (flags & (1u << k)) put_varint(out, errors[k]);
  }
  *previous = location;
}

// Reads one location written by put_location after *location, which becomes it; moves p past it.
template <class In>
void get_location(In& p, document_location_st* location) {
  using namespace location_codec;
  const uint8_t flags = *p;
  ++p;
  const document_location_st previous = *location;
  for (unsigned k = 0; k < kFieldCount; ++k) {
    int64_t value = guess(previous, *location, k);
    if (flags & (1u << k)) value += unzigzag(get_varint(p));
    (*location).*kFields[k] = static_cast<uint32_t>(value);
  }
}

}  // namespace qzbase
