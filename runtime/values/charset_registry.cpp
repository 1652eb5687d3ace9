// charset_registry.cpp - the charset registry.
//
// Faults guarded against:
// - Row 35 (utf-7) is variable-width: 1 to 8 bytes per character (1 to 1 would make it
//   fixed-width and size estimates from it unsafe).
// - The loaded cache is filled under a lock (threads fill it lazily);
//   reads of the usual keys (CSID, CSID | 0x10000) are lock-free.
// - get_locale_default_charset reads the language and the country into buffers of ICU's capacities
//   and checks the status (3-byte buffers would be left unterminated for "fil_PH"
//   or "es_419").
// - The registry initialises itself on the first lookup when __init_character_sets has not run,
//   and __init_character_sets is thread-safe.
#include "values/charset_registry.h"

#include <unicode/uloc.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "values/charset.h"

namespace qzbase {

// ---------------------------------------------------------------------------------------------
// Mazovia (code page 620): IBM 437 with the 18 Polish letters in its upper half; typed in from
// the published chart. The lower half is ASCII with the IBM arrangement of 0x1A, 0x1C and 0x7F.
// ---------------------------------------------------------------------------------------------

extern const uint16_t sbcs_map_mazovia[256];
const uint16_t sbcs_map_mazovia[256] = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007,  // 00
    0x0008, 0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x000E, 0x000F,
    0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015, 0x0016, 0x0017,  // 10
    0x0018, 0x0019, 0x001C, 0x001B, 0x007F, 0x001D, 0x001E, 0x001F,
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  // 20
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 30
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 40
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 50
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // 60
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  // 70
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x001A,
    // 80: C-cedilla u-diaeresis e-acute a-circumflex a-diaeresis a-grave a-ogonek c-cedilla
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x0105, 0x00E7,
    // 88: e-circumflex e-diaeresis e-grave i-diaeresis i-circumflex c-acute A-diaeresis A-ogonek
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x0107, 0x00C4, 0x0104,
    // 90: E-ogonek e-ogonek l-stroke o-circumflex o-diaeresis C-acute u-circumflex u-grave
    0x0118, 0x0119, 0x0142, 0x00F4, 0x00F6, 0x0106, 0x00FB, 0x00F9,
    // 98: S-acute O-diaeresis U-diaeresis cent L-stroke yen s-acute f-hook
    0x015A, 0x00D6, 0x00DC, 0x00A2, 0x0141, 0x00A5, 0x015B, 0x0192,
    // A0: Z-acute Z-dot o-acute O-acute n-acute N-acute z-acute z-dot
    0x0179, 0x017B, 0x00F3, 0x00D3, 0x0144, 0x0143, 0x017A, 0x017C,
    // A8: inverted-question reversed-not not half quarter inverted-exclamation guillemets
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x03BC, 0x03C4,  // E0 (E6: mu as in IBM 437)
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// ---------------------------------------------------------------------------------------------
// Loaders
// ---------------------------------------------------------------------------------------------

namespace {

const Charset* load_binary(const charset_st& r, bool flagged) { return new Binary(r, flagged); }

template <const uint16_t* Map, uint8_t Substitution>
const Charset* load_table(const charset_st& r, bool flagged) {
  return new Manual_SBCSCharset(r, flagged, Map, Substitution);
}

template <class Kind>
const Charset* load_icu(const charset_st& r, bool flagged) {
  return new Kind(r, flagged);
}

constexpr auto L_BIN = &load_binary;
constexpr auto L_GEN = &load_icu<GenericCharset>;
constexpr auto L_UTF8 = &load_icu<UTF8>;
constexpr auto L_UTF16 = &load_icu<UTF16LE>;
constexpr auto L_UTF32 = &load_icu<UTF32LE>;

}  // namespace

// ---------------------------------------------------------------------------------------------
// The charset table
// ---------------------------------------------------------------------------------------------

// clang-format off
const charset_st charset_table[kCharsetTableSize] = {
  // CSID name               win    xbase  ICU name               min max BOM len, bytes      loader                                   unicode
  { 1, "ascii",            20127,     0, "US-ASCII",              1, 1, 0, nullptr,            &load_table<sbcs_map_ascii, 26>,          0},
  { 2, "binary",               0,     0, nullptr,                 1, 1, 0, nullptr,            L_BIN,                                    0},
  { 3, "gsm",                  0,     0, "gsm-03.38-2009",        1, 2, 0, nullptr,            L_GEN,                                    0},
  { 4, "iso-8859-1",       28591,     0, "ISO-8859-1",            1, 1, 0, nullptr,            &load_table<sbcs_map_iso8859_1, 26>,      0},
  { 5, "iso-8859-2",       28592,     0, "ibm-912_P100-1995",     1, 1, 0, nullptr,            L_GEN,                                    0},
  { 6, "iso-8859-3",       28593,     0, "ibm-913_P100-2000",     1, 1, 0, nullptr,            L_GEN,                                    0},
  { 7, "iso-8859-4",       28594,     0, "ibm-914_P100-1995",     1, 1, 0, nullptr,            L_GEN,                                    0},
  { 8, "iso-8859-5",       28595,     0, "ibm-915_P100-1995",     1, 1, 0, nullptr,            L_GEN,                                    0},
  { 9, "iso-8859-6",       28596,     0, "ibm-1089_P100-1995",    1, 1, 0, nullptr,            L_GEN,                                    0},
  {10, "iso-8859-7",       28597,     0, "ibm-9005_X110-2007",    1, 1, 0, nullptr,            L_GEN,                                    0},
  {11, "iso-8859-8",       28598,     0, "ibm-5012_P100-1999",    1, 1, 0, nullptr,            L_GEN,                                    0},
  {12, "iso-8859-9",       28599,     0, "ibm-920_P100-1995",     1, 1, 0, nullptr,            L_GEN,                                    0},
  {13, "iso-8859-10",          0,     0, "iso-8859_10-1998",      1, 1, 0, nullptr,            L_GEN,                                    0},
  {14, "iso-8859-11",          0,     0, "iso-8859_11-2001",      1, 1, 0, nullptr,            L_GEN,                                    0},
  {15, "iso-8859-13",      28603,     0, "ibm-921_P100-1995",     1, 1, 0, nullptr,            L_GEN,                                    0},
  {16, "iso-8859-14",          0,     0, "iso-8859_14-1998",      1, 1, 0, nullptr,            L_GEN,                                    0},
  {17, "iso-8859-15",      28605,     0, "ibm-923_P100-1998",     1, 1, 0, nullptr,            L_GEN,                                    0},
  {18, "ibm-37",              37,     0, "ibm-37_P100-1995",      1, 1, 0, nullptr,            L_GEN,                                    0},
  {19, "ibm-437",            437,   437, "ibm-437_P100-1995",     1, 1, 0, nullptr,            &load_table<sbcs_map_ibm437, 127>,        0},
  {20, "ibm-737",            737,   737, "ibm-737_P100-1997",     1, 1, 0, nullptr,            L_GEN,                                    0},
  {21, "ibm-500",            500,     0, "ibm-500_P100-1995",     1, 1, 0, nullptr,            L_GEN,                                    0},
  {22, "ibm-850",            850,   850, "ibm-850_P100-1995",     1, 1, 0, nullptr,            &load_table<sbcs_map_ibm850, 127>,        0},
  {23, "ibm-852",            852,   852, "ibm-852_P100-1995",     1, 1, 0, nullptr,            L_GEN,                                    0},
  {24, "ibm-857",            857,   857, "ibm-857_P100-1995",     1, 1, 0, nullptr,            L_GEN,                                    0},
  {25, "ibm-861",            861,   861, "ibm-861_P100-1995",     1, 1, 0, nullptr,            L_GEN,                                    0},
  {26, "ibm-863",            863,     0, "ibm-863_P100-1995",     1, 1, 0, nullptr,            L_GEN,                                    0},
  {27, "ibm-865",            865,   865, "ibm-865_P100-1995",     1, 1, 0, nullptr,            L_GEN,                                    0},
  {28, "ibm-866",            866,   866, "ibm-866_P100-1995",     1, 1, 0, nullptr,            L_GEN,                                    0},
  {29, "ibm-950",              0,     0, "ibm-950_P110-1999",     1, 2, 0, nullptr,            L_GEN,                                    0},
  {30, "ibm-1373",             0,     0, "ibm-1373_P100-2002",    1, 2, 0, nullptr,            L_GEN,                                    0},
  {31, "ibm-1375",             0,     0, "ibm-1375_P100-2008",    1, 2, 0, nullptr,            L_GEN,                                    0},
  {32, "ibm-5471",             0,     0, "ibm-5471_P100-2006",    1, 2, 0, nullptr,            L_GEN,                                    0},
  {33, "kamenicky",            0,   895, nullptr,                 1, 1, 0, nullptr,            &load_table<sbcs_map_kamenicky, 127>,     0},
  {34, "mazovia",              0,   620, nullptr,                 1, 1, 0, nullptr,            &load_table<sbcs_map_mazovia, 127>,       0},
  // UTF-7 is variable-width: up to 8 bytes for one character in base64 (a supplementary character
  // after a shift). Its signature is U+FEFF encoded on its own: "+/v8-".
  {35, "utf-7",            65000,     0, "UTF-7",                 1, 8, 5, "+/v8-",            L_GEN,                                    1},
  {36, "utf-8",            65001, 65001, "UTF-8",                 1, 4, 0, nullptr,            L_UTF8,                                   1},
  {59, "utf-8-bom",            0,     0, "UTF-8",                 1, 4, 3, "\xEF\xBB\xBF",     L_UTF8,                                   1},
  {37, "utf-16le",          1200,     0, "UTF-16LE",              2, 4, 0, nullptr,            L_UTF16,                                  1},
  {60, "utf-16le-bom",         0,     0, "UTF-16LE",              2, 4, 2, "\xFF\xFE",         L_UTF16,                                  1},
  {38, "utf-16be",          1201,     0, "UTF-16BE",              2, 4, 0, nullptr,            L_GEN,                                    1},
  {61, "utf-16be-bom",         0,     0, "UTF-16BE",              2, 4, 2, "\xFE\xFF",         L_GEN,                                    1},
  {39, "utf-32le",         12000,     0, "UTF-32LE",              4, 4, 0, nullptr,            L_UTF32,                                  1},
  {62, "utf-32le-bom",         0,     0, "UTF-32LE",              4, 4, 4, "\xFF\xFE\x00\x00", L_UTF32,                                  1},
  {40, "utf-32be",         12001,     0, "UTF-32BE",              4, 4, 0, nullptr,            L_GEN,                                    1},
  {63, "utf-32be-bom",         0,     0, "UTF-32BE",              4, 4, 4, "\x00\x00\xFE\xFF", L_GEN,                                    1},
  {41, "windows-874",        874,   874, "windows-874-2000",      1, 1, 0, nullptr,            L_GEN,                                    0},
  {42, "windows-932",        932,   932, "ibm-943_P15A-2003",     1, 2, 0, nullptr,            L_GEN,                                    0},
  {43, "windows-936",        936,   936, "windows-936-2000",      1, 2, 0, nullptr,            L_GEN,                                    0},
  {44, "windows-949",        949,   949, "windows-949-2000",      1, 2, 0, nullptr,            L_GEN,                                    0},
  {45, "windows-950",        950,   950, "windows-950-2000",      1, 2, 0, nullptr,            L_GEN,                                    0},
  {46, "windows-1250",      1250,  1250, "ibm-5346_P100-1998",    1, 1, 0, nullptr,            &load_table<sbcs_map_windows1250, 26>,    0},
  {47, "windows-1251",      1251,  1251, "ibm-5347_P100-1998",    1, 1, 0, nullptr,            &load_table<sbcs_map_windows1251, 26>,    0},
  {48, "windows-1252",      1252,  1252, "ibm-5348_P100-1997",    1, 1, 0, nullptr,            &load_table<sbcs_map_windows1252, 26>,    0},
  {49, "windows-1253",      1253,  1253, "ibm-5349_P100-1998",    1, 1, 0, nullptr,            L_GEN,                                    0},
  {50, "windows-1254",      1254,  1254, "ibm-5350_P100-1998",    1, 1, 0, nullptr,            L_GEN,                                    0},
  {51, "windows-1255",      1255,  1255, "ibm-9447_P100-2002",    1, 1, 0, nullptr,            L_GEN,                                    0},
  {52, "windows-1256",      1256,  1256, "ibm-9448_X100-2005",    1, 1, 0, nullptr,            L_GEN,                                    0},
  {53, "windows-1257",      1257,     0, "ibm-9449_P100-2002",    1, 1, 0, nullptr,            L_GEN,                                    0},
  {54, "windows-1258",      1258,     0, "ibm-5354_P100-1998",    1, 1, 0, nullptr,            L_GEN,                                    0},
  {55, "macintosh",        10000, 10000, "macos-0_2-10.2",        1, 1, 0, nullptr,            L_GEN,                                    0},
  {56, "x-mac-greek",      10006, 10006, "macos-6_2-10.4",        1, 1, 0, nullptr,            L_GEN,                                    0},
  {57, "x-mac-cyrillic",   10007, 10007, "macos-7_3-10.2",        1, 1, 0, nullptr,            L_GEN,                                    0},
  {58, "x-mac-centraleu",  10029, 10029, "macos-29-10.2",         1, 1, 0, nullptr,            L_GEN,                                    0},
};
// clang-format on

namespace {

struct alias_st {
  const char* name;
  int csid;
};
const alias_st kAliases[] = {
    {"utf7", 35},    {"utf8", 36},     {"utf16le", 37}, {"utf16-le", 37}, {"utf16be", 38},
    {"utf16-be", 38}, {"utf32le", 39}, {"utf32-le", 39}, {"utf32be", 40}, {"utf32-be", 40},
};

struct bom_pair_st {
  int csid;
  int bom_csid;
};
const bom_pair_st kBomPairs[] = {{36, 59}, {37, 60}, {38, 61}, {39, 62}, {40, 63}};

}  // namespace

const locale_codepage_st locale_codepage_table[kLocaleTableSize] = {
    {"ar_AA", 1256}, {"be_BY", 1251}, {"bg_BG", 1251}, {"ca_ES", 1252}, {"cs_CZ", 1250}, {"da_DK", 1252},
    {"de_CH", 1252}, {"de_DE", 1252}, {"de_AT", 1252}, {"el_GR", 1253}, {"en_AU", 1252}, {"en_BE", 1252},
    {"en_GB", 1252}, {"en_JP", 1252}, {"en_US", 1252}, {"en_ZA", 1252}, {"es_BR", 1252}, {"es_ES", 1252},
    {"es_MX", 1252}, {"fi_FI", 1252}, {"fr_BE", 1252}, {"fr_CA", 1252}, {"fr_CH", 1252}, {"fr_FR", 1252},
    {"hr_HR", 1250}, {"hu_HU", 1250}, {"is_IS", 1252}, {"it_CH", 1252}, {"it_IT", 1252}, {"iw_IL", 1255},
    {"ja_JP", 932},  {"ko_KR", 949},  {"mk_MK", 1251}, {"nl_BE", 1252}, {"nl_NL", 1252}, {"no_NO", 1252},
    {"pl_PL", 1250}, {"pt_BR", 1252}, {"pt_PT", 1252}, {"ro_RO", 1250}, {"ru_RU", 1251}, {"sh_SP", 1250},
    {"sk_SK", 1250}, {"sl_SL", 1250}, {"sq_AL", 1252}, {"sv_SE", 1252}, {"th_TH", 874},  {"tr_TR", 1254},
    {"uk_UA", 1251}, {"zh_CN", 936},  {"zh_TW", 950},
};

// ---------------------------------------------------------------------------------------------
// The registry state
// ---------------------------------------------------------------------------------------------

namespace {

constexpr size_t kFastCsids = 64;

struct Registry {
  std::mutex init_mutex;   // __init_character_sets and __cleanup_character_sets
  std::mutex cache_mutex;  // writers of the loaded cache
  std::atomic<bool> ready{false};

  std::unordered_map<int, const charset_st*> by_csid;
  std::unordered_map<std::string, int> by_name;
  std::unordered_map<int, int> by_windows;
  std::unordered_map<int, int> by_xbase;

  // The loaded cache: keys CSID and CSID | 0x10000 for CSIDs below 64 in `fast` (lock-free reads),
  // any other key (ids with bits above 16) in `other` under cache_mutex.
  std::atomic<const Charset*> fast[2][kFastCsids] = {};
  std::unordered_map<uint32_t, const Charset*> other;
};

// Created on first use and never destroyed, so neither the order of static initialisation nor that
// of destruction matters to the library constructor and destructor that use it.
Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

std::atomic<const Charset*>* fast_slot(Registry& r, uint32_t key) {
  if ((key & ~static_cast<uint32_t>(0x1FFFF)) != 0) return nullptr;
  uint32_t csid = key & 0xFFFF;
  if (csid >= kFastCsids) return nullptr;
  return &r.fast[(key >> 16) & 1][csid];
}

// The loaded-cache lookup and the loader call; the maps must be filled.
const Charset* load_by_key(Registry& r, uint32_t key) {
  std::atomic<const Charset*>* slot = fast_slot(r, key);
  if (slot) {
    if (const Charset* cs = slot->load(std::memory_order_acquire)) return cs;
  }
  std::lock_guard<std::mutex> lock(r.cache_mutex);
  if (slot) {
    if (const Charset* cs = slot->load(std::memory_order_relaxed)) return cs;
  } else {
    auto it = r.other.find(key);
    if (it != r.other.end()) return it->second;
  }
  auto rec = r.by_csid.find(static_cast<int>(key & 0xFFFF));
  if (rec == r.by_csid.end()) return nullptr;
  const Charset* cs = rec->second->loader(*rec->second, ((key >> 16) & 1) != 0);
  if (slot)
    slot->store(cs, std::memory_order_release);
  else
    r.other.emplace(key, cs);
  return cs;
}

Registry& ready_registry() {
  Registry& r = registry();
  if (!r.ready.load(std::memory_order_acquire)) __init_character_sets();
  return r;
}

uint32_t csid_key(size_t id) {
  uint32_t key = static_cast<uint32_t>(id);
  if (key == 2) key = 0x10002;  // binary text is always the flagged instance
  return key;
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Start-up and clean-up
// ---------------------------------------------------------------------------------------------

void __init_character_sets() {
  QZ_TRACE;
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.init_mutex);
  if (r.ready.load(std::memory_order_acquire) && Charset::binary) return;

  {
    std::lock_guard<std::mutex> cache_lock(r.cache_mutex);
    if (!r.fast[0][1].load(std::memory_order_relaxed)) {
      const Charset* ascii = new Manual_SBCSCharset(charset_table[0], false, sbcs_map_ascii, 26);
      r.fast[0][1].store(ascii, std::memory_order_release);
    }
    Charset::ascii = r.fast[0][1].load(std::memory_order_relaxed);
  }

  for (const charset_st& row : charset_table) {
    int csid = static_cast<int>(row.csid);
    r.by_csid.emplace(csid, &row);
    r.by_name.emplace(row.name, csid);
    if (row.windows_codepage > 0) r.by_windows.emplace(row.windows_codepage, csid);
    if (row.xbase_codepage > 0) r.by_xbase.emplace(row.xbase_codepage, csid);
  }
  for (const alias_st& a : kAliases) r.by_name.emplace(a.name, a.csid);

  Charset::binary = load_by_key(r, csid_key(2));
  Charset::utf8 = load_by_key(r, 36);
  Charset::utf16le = load_by_key(r, 37);
  Charset::utf32le = load_by_key(r, 39);
  r.ready.store(true, std::memory_order_release);
}

void __cleanup_character_sets() {
  QZ_TRACE;
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.init_mutex);
  std::lock_guard<std::mutex> cache_lock(r.cache_mutex);
  r.ready.store(false, std::memory_order_release);
  Charset::ascii = nullptr;
  Charset::binary = nullptr;
  Charset::utf8 = nullptr;
  Charset::utf16le = nullptr;
  Charset::utf32le = nullptr;
  for (auto& half : r.fast) {
    for (auto& slot : half) {
      if (const Charset* cs = slot.exchange(nullptr)) delete cs;
    }
  }
  for (auto& kv : r.other) delete kv.second;
  r.other.clear();
  r.by_csid.clear();
  r.by_name.clear();
  r.by_windows.clear();
  r.by_xbase.clear();
}

// ---------------------------------------------------------------------------------------------
// Lookups
// ---------------------------------------------------------------------------------------------

const Charset* get_charset_by_csid(size_t id) {
  QZ_TRACE;
  Registry& r = ready_registry();
  return load_by_key(r, csid_key(id));
}

const Charset* GetCharsetByCSID(size_t id) {
  QZ_TRACE;
  return get_charset_by_csid(id);
}

const Charset* get_charset_by_codepage(int xbase_cp, bool flagged) {
  QZ_TRACE;
  Registry& r = ready_registry();
  auto it = r.by_xbase.find(xbase_cp);
  if (it == r.by_xbase.end()) return nullptr;
  size_t id = static_cast<size_t>(it->second);
  return get_charset_by_csid(flagged ? (id | kCharsetFlaggedBit) : id);
}

const Charset* GetCharsetByWindowsCodepage(int codepage) {
  QZ_TRACE;
  Registry& r = ready_registry();
  auto it = r.by_windows.find(codepage);
  if (it == r.by_windows.end()) throw RuntimeError(1001);
  return get_charset_by_csid(static_cast<size_t>(it->second));
}

const Charset* get_charset_by_name(const char* name) {
  QZ_TRACE;
  if (!name) return nullptr;
  Registry& r = ready_registry();
  std::string key;
  for (const char* p = name; *p; ++p) key.push_back(ascii_lower(*p));
  auto it = r.by_name.find(key);
  if (it == r.by_name.end()) return nullptr;
  return get_charset_by_csid(static_cast<size_t>(it->second));
}

const Charset* get_charset_by_name(const String& name) {
  QZ_TRACE;
  // The name in ASCII, stopping at a character outside ASCII (no output is then stored) and cut
  // at 100 bytes.
  char buffer[101];
  char* d = buffer;
  const Charset* cs = name.get_charset();
  const char* s = name.read();
  ready_registry();
  const Charset* ascii = Charset::ascii;
  if (cs && s && name.size() > 0) cs->convert(&s, name.end(), &d, buffer + 100, ascii, 1);
  *d = '\0';
  return get_charset_by_name(static_cast<const char*>(buffer));
}

const Charset* get_charset_by_country_lang(const char* locale) {
  QZ_TRACE;
  if (!locale) return nullptr;
  for (const locale_codepage_st& row : locale_codepage_table) {
    if (strcmp(row.locale, locale) == 0) return get_charset_by_codepage(row.codepage, false);
  }
  return nullptr;
}

const Charset* get_locale_default_charset() {
  QZ_TRACE;
  const char* locale = uloc_getDefault();
  char language[ULOC_LANG_CAPACITY];
  char country[ULOC_COUNTRY_CAPACITY];
  UErrorCode status = U_ZERO_ERROR;
  int32_t language_length = uloc_getLanguage(locale, language, sizeof language, &status);
  bool usable = U_SUCCESS(status) && status != U_STRING_NOT_TERMINATED_WARNING && language_length > 0;
  int32_t country_length = 0;
  if (usable) {
    status = U_ZERO_ERROR;
    country_length = uloc_getCountry(locale, country, sizeof country, &status);
    usable = U_SUCCESS(status) && status != U_STRING_NOT_TERMINATED_WARNING && country_length > 0;
  }
  if (usable) {
    char joined[ULOC_LANG_CAPACITY + ULOC_COUNTRY_CAPACITY + 2];
    snprintf(joined, sizeof joined, "%s_%s", language, country);
    if (const Charset* cs = get_charset_by_country_lang(joined)) return cs;
    // The table keeps the old code "iw" for Hebrew, which ICU reports as "he".
    if (strcmp(language, "he") == 0) {
      snprintf(joined, sizeof joined, "iw_%s", country);
      if (const Charset* cs = get_charset_by_country_lang(joined)) return cs;
    }
  }
  return get_charset_by_codepage(437, false);
}

const Charset* get_bom_charset(const Charset* cs) {
  QZ_TRACE;
  if (!cs) return nullptr;
  for (const bom_pair_st& pair : kBomPairs) {
    if (cs->csid() == static_cast<uint64_t>(pair.csid)) return get_charset_by_csid(static_cast<size_t>(pair.bom_csid));
  }
  return nullptr;
}

size_t GetCharsetCSID(const Charset* cs) {
  QZ_TRACE;
  return cs ? static_cast<size_t>(cs->csid()) : 0;
}

size_t GetCharsetCPID(const Charset* cs) {
  QZ_TRACE;
  if (!cs || cs->record().xbase_codepage <= 0) return 0;
  return static_cast<size_t>(cs->record().xbase_codepage);
}

void list_supported_charset(void* ctx, qz_list_charset_callback cb) {
  QZ_TRACE;
  if (!cb) return;
  for (const charset_st& row : charset_table) cb(ctx, row.name);
}

}  // namespace qzbase
