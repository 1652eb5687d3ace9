// index_keys.cpp - sortable key bytes, raw key steps and collation names.
#include "indexes/index_keys.h"

#include <cstring>
#include <stdexcept>

#include "tables/dbf_exceptions.h"
#include "values/collation.h"

namespace qzbase {

void keyI4(const integer_type_st& value, char* buffer, size_t length) {
  QZ_TRACE;
  QZ_ASSERT(length >= 4);
  if (value.value < INT32_MIN || value.value > INT32_MAX) throw RuntimeError(39);
  const uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(value.value)) + 0x80000000u;
  buffer[0] = static_cast<char>(v >> 24);
  buffer[1] = static_cast<char>(v >> 16);
  buffer[2] = static_cast<char>(v >> 8);
  buffer[3] = static_cast<char>(v);
}

void keyN8(double value, char* buffer, size_t length) {
  QZ_TRACE;
  if (length < 8) throw RuntimeError(1001, String("buffer too small."));
  if (value == 0) value = 0;  // -0 sorts as +0
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  if (bits >> 63) {
    bits = ~bits;
  } else {
    bits |= 0x8000000000000000ull;
  }
  for (int i = 0; i < 8; ++i) buffer[i] = static_cast<char>(bits >> (56 - 8 * i));
}

void keyY8(const money_type_st& value, char* buffer, size_t length) {
  QZ_TRACE;
  QZ_ASSERT(length >= 8);
  const __int128 v = value.value;
  if (v > INT64_MAX) throw std::overflow_error("positive overflow");
  if (v < INT64_MIN) throw std::overflow_error("negative overflow");
  const uint64_t bits = static_cast<uint64_t>(static_cast<int64_t>(v)) + 0x8000000000000000ull;
  for (int i = 0; i < 8; ++i) buffer[i] = static_cast<char>(bits >> (56 - 8 * i));
}

bool IncreaseRawKey(char* key, size_t length) {
  QZ_TRACE;
  for (size_t i = length; i-- > 0;) {
    auto& b = reinterpret_cast<unsigned char&>(key[i]);
    if (b != 0xFF) {
      ++b;
      return true;
    }
    b = 0x00;
  }
  return false;
}

bool ShrinkRawKey(char* key, size_t length) {
  QZ_TRACE;
  for (size_t i = length; i-- > 0;) {
    auto& b = reinterpret_cast<unsigned char&>(key[i]);
    if (b != 0x00) {
      --b;
      return true;
    }
    b = 0xFF;
  }
  return false;
}

bool IncreaseRawKey(const char* source, size_t length, char* destination) {
  QZ_TRACE;
  if (length != 0) std::memmove(destination, source, length);
  return IncreaseRawKey(destination, length);
}

bool ShrinkRawKey(const char* source, size_t length, char* destination) {
  QZ_TRACE;
  if (length != 0) std::memmove(destination, source, length);
  return ShrinkRawKey(destination, length);
}

namespace {

struct collation_name_st {
  const char* name;
  uint32_t group;
};

constexpr collation_name_st kCollationNames[] = {
    {"MACHINE", COLLATION_GROUP_MACHINE}, {"GENERAL", COLLATION_GROUP_GENERAL},
    {"GREEK", COLLATION_GROUP_GREEK},     {"GERMAN", COLLATION_GROUP_GERMAN},
    {"POLISH", COLLATION_GROUP_POLISH},   {"TURKISH", COLLATION_GROUP_TURKISH},
    {"ICELAND", COLLATION_GROUP_ICELAND}, {"NORDAN", COLLATION_GROUP_NORDAN},
    {"SWEFIN", COLLATION_GROUP_SWEFIN},   {"RUSSIAN", COLLATION_GROUP_RUSSIAN},
    {"THAI", COLLATION_GROUP_THAI},       {"CZECH", COLLATION_GROUP_CZECH},
    {"SLOVAK", COLLATION_GROUP_SLOVAK},   {"HUNGARY", COLLATION_GROUP_HUNGARY},
    {"SPANISH", COLLATION_GROUP_SPANISH}, {"DUTCH", COLLATION_GROUP_DUTCH},
};

}  // namespace

uint32_t collation_group_by_name(const String& name) {
  QZ_TRACE;
  if (name.size() == 0) return COLLATION_GROUP_MACHINE;
  // The name may come in any character set: compare characters, not bytes.
  for (const auto& row : kCollationNames) {
    if (name.cmp(String(row.name), Collation::unicode_machine_ci) == 0) return row.group;
  }
  return 0;
}

Collation* collation_for_group(const Charset* charset, const String& name) {
  QZ_TRACE;
  const uint32_t group = collation_group_by_name(name);
  if (group == 0 || charset == nullptr) throw dbf_error_collation_not_supported();
  Collation* collation = GetCollationFromGroup(charset->record().xbase_codepage, static_cast<int>(group));
  if (collation == nullptr) throw dbf_error_collation_not_supported();
  return collation;
}

}  // namespace qzbase
