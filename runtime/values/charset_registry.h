// charset_registry.h - the charset registry. Internal header.
//
// One static table of 63 charset records, the lookup maps built from it at start-up, the cache of
// the Charset objects created so far, the locale table, and the lookups. The exported lookups
// (GetCharsetByCSID, GetCharsetByWindowsCodepage, GetCharsetCSID, GetCharsetCPID) are declared in
// qzbase.h.
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>

namespace qzbase {

constexpr size_t kCharsetTableSize = 63;
// The charset table, in table order (not CSID order: the "-bom" rows stand by their plain twins).
extern const charset_st charset_table[kCharsetTableSize];

// Key bit of the flagged instance in the loaded cache (and in get_charset_by_csid's id).
constexpr size_t kCharsetFlaggedBit = 0x10000;

struct locale_codepage_st {
  const char* locale;  // language, underscore, country
  int32_t codepage;    // table-file code page
};
constexpr size_t kLocaleTableSize = 51;
extern const locale_codepage_st locale_codepage_table[kLocaleTableSize];

// The single-byte maps: byte -> UTF-16 unit, U+FFFD for an unmapped byte. All but Mazovia are
// generated at build time (gen/gen_sbcs_maps.cpp) from ICU and recode; Mazovia is typed in.
extern const uint16_t sbcs_map_ascii[256];
extern const uint16_t sbcs_map_iso8859_1[256];
extern const uint16_t sbcs_map_windows1250[256];
extern const uint16_t sbcs_map_windows1251[256];
extern const uint16_t sbcs_map_windows1252[256];
extern const uint16_t sbcs_map_ibm437[256];
extern const uint16_t sbcs_map_ibm850[256];
extern const uint16_t sbcs_map_kamenicky[256];
extern const uint16_t sbcs_map_mazovia[256];

// Fills the registry once. Idempotent and thread-safe: later calls return at once while the
// registry is filled. The lookups below call it themselves when it has not run yet.
void __init_character_sets();
// Destroys every cached Charset, clears the maps and sets the five Charset globals to null.
void __cleanup_character_sets();

// The Charset of a CSID (bit 16: the flagged instance); id 2 always gives the flagged binary
// instance. Null for an unknown CSID.
const Charset* get_charset_by_csid(size_t id);
// The charset of a table-file code page, flagged or plain; null when unknown.
const Charset* get_charset_by_codepage(int xbase_cp, bool flagged);
// The plain charset of a name or alias (case-insensitive, ASCII); null when unknown.
const Charset* get_charset_by_name(const char* name);
const Charset* get_charset_by_name(const String& name);
// The plain charset of the locale table's code page for an exact, case-sensitive locale
// ("de_DE"); null when the locale is not in the table.
const Charset* get_charset_by_country_lang(const char* locale);
// The default charset of ICU's default locale; ibm-437 when the locale is not in the table.
const Charset* get_locale_default_charset();
// The BOM twin (plain) of utf-8, utf-16le, utf-16be, utf-32le and utf-32be; null for every other.
const Charset* get_bom_charset(const Charset* cs);

}  // namespace qzbase
