// location_codec.h - source locations written as small differences from the one before.
//
// A run of operations compiled from one text has locations that differ from their neighbours in a
// field or two: each field is guessed from the location before and the fields of this one already
// known (same line, same length, ASCII text), and only a wrong guess costs bytes: a flag byte,
// then for each wrong field its error as a zigzag varint. Typically three to five bytes a location.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <vector>

namespace qzbase {

void put_varint(std::vector<uint8_t>& out, uint64_t v);
// Reads one varint at p and moves p past it. The caller guarantees the bytes are there.
uint64_t get_varint(const uint8_t*& p);

inline uint64_t zigzag(int64_t v) { return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63); }
inline int64_t unzigzag(uint64_t v) { return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1); }

// Appends location as its difference from *previous, which then becomes location.
void put_location(std::vector<uint8_t>& out, document_location_st* previous, const document_location_st& location);
// Reads one location written by put_location after *location, which becomes it; moves p past it.
void get_location(const uint8_t*& p, document_location_st* location);

}  // namespace qzbase
