// index_keys.h - sortable key bytes of values, and the collation of a tag's collation name.
//
// Every key is a fixed-length byte string whose plain unsigned byte order (memcmp) is the order of
// the values it stands for; descending tags are the callers' business, never the comparison's.
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>

namespace qzbase {

// The value plus 0x80000000, most significant byte first. The key holds 32 bits: a value outside
// -2^31..2^31-1 raises RuntimeError 39 instead of wrapping into the wrong place of the order.
void keyI4(const integer_type_st& value, char* buffer, size_t length);
// The IEEE bytes most significant first, -0 as +0; non-negative values get the top bit set,
// negative ones are inverted whole. A buffer under 8 bytes: RuntimeError 1001 "buffer too small.".
void keyN8(double value, char* buffer, size_t length);
// The money value (ten-thousandths) plus 2^63, most significant byte first. A value the 64 bits do
// not order (outside the signed 64-bit range) raises std::overflow_error.
void keyY8(const money_type_st& value, char* buffer, size_t length);

// The collation group of a tag's collation name (case-insensitive; empty is MACHINE); 0 for an
// unknown name.
uint32_t collation_group_by_name(const String& name);
// The collation of that group for the table character set's code page;
// dbf_error_collation_not_supported for an unknown name or a group the code page lacks.
Collation* collation_for_group(const Charset* charset, const String& name);

}  // namespace qzbase
