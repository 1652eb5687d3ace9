// gen_collation_tables - build-time generator of the 48 weight tables of the mapped collations.
//
// Usage: qz_gen_collation_tables OUTPUT.cpp RECODE-PROGRAM [--dump]
//
// Index files written elsewhere fix every collation record, a few rows of two weight tables, the
// lists of multi-character entries and the table sizes. This program derives each table from its
// code page with ICU, so that every such fixed row comes out exactly
// (tests/values/collation_test.cpp checks them), and writes OUTPUT.cpp with one
// `const collation_entry_st codepage_CP_GROUP_ci_table` per mapped collation, plus the code-page
// decodings it used (`collation_source_units`), which the tests compare with the runtime charsets.
// --dump also prints every table as text on stdout.
//
// ============================================================================================
// The derivation rule
// ============================================================================================
//
// 1. Decoding. Each byte of the code page is decoded into one code point: ICU's converter of the
//    charset record, GNU recode's KEYBCS2 for Kamenicky (895, which ICU lacks), and
//    for Mazovia (620) ICU's IBM 437 with the 17 Polish letters of Mazovia typed in below.
//    Unmapped bytes decode as U+FFFD.
//
// 2. Folding one character u (in this order; the first step that applies wins):
//    a. Control, format, private-use, unassigned, U+FFFD: IGNORABLE.
//    b. Case folding: u is folded with ICU's simple case folding (u_foldCase); in the TURKISH group
//       with the Turkic rule (I folds to dotless i, I-dot to i).
//    c. Alphabet: when the folded character is a form the group's alphabet lists (see 4), it is
//       that letter, secondary weight 0 (or, for a listed variant form, the variant's secondary).
//    d. Ligatures that Unicode does not decompose expand into two letters (entry kind 2, written
//       in upper case): AE, OE, SS (sharp s), TH (thorn); unless the alphabet lists them (c).
//    e. ICU normalisation: NFKD of the folded character; the combining marks (category Mn) are
//       removed and give the accent (see 3); the rest is case-folded again and is the base:
//       - one character: the base is classified by f..j below, with the accent as secondary;
//       - two characters that the code page has: an expansion (kind 2) into those two bytes, in
//         upper case (the trade mark sign expands into T M);
//       - anything longer: a number (category No, e.g. a vulgar fraction) sorts as its first digit
//         with the secondary FRACTION; any other character stays itself (the ellipsis is a symbol).
//    f. White space: SPACE (so the no-break space and the spacing accents, whose NFKD is a blank
//       and a combining mark, share the weight of the blank; the accents keep a secondary).
//    g. Alphabet again, for the base.
//    h. Letters that carry a stroke, a hook or no dot and that Unicode does not decompose fold onto
//       their plain letter with a pseudo-accent: d-stroke and eth onto d (STROKE), l-stroke onto l,
//       o-stroke onto o, h-stroke onto h (STROKE), dotless i onto i (DOTLESS), f-hook onto f (HOOK);
//       only when the alphabet does not list them itself.
//    i. A decimal digit (Nd): DIGIT 0..9.
//    j. Any other letter (category L except Lm): OTHER LETTER. Everything else: SYMBOL.
//
// 3. Secondary weights: the accents in NFD order, mapped through a fixed list (accent_codes
//    below): 1 acute, 2 grave, 3 circumflex, 4 diaeresis, 5 tilde, 6 ring, 7 cedilla, 8 caron,
//    9 ogonek, 10 double acute, 11 breve, 12 dot above, 13 macron, 14 stroke, 15 hook,
//    16 dotless, 17 diaeresis with acute (Greek dialytika tonos), 18 comma below, 19 a digraph
//    spelt out (kind 7), 20 an alphabet variant form without accent, 21 fraction, 22 double low
//    line, 23 overline, 24 low line; any other mark of the block U+0300..U+036F 0x40 + its offset
//    in the block (the long solidus overlay of the not-equal sign: 0x78). Another accent
//    sequence missing from the list stops the generator.
//
// 4. Primary weights are dense, in one order for the whole table:
//      0x10               every IGNORABLE character,
//      0x11               SPACE,
//      0x12 ...           each distinct SYMBOL base, in ICU root collation order,
//      then 10 weights    the digits 0 to 9,
//      then               every entry of the group's alphabet in its order, whether or not the code
//                         page has the letter (so one letter keeps one weight in every code page of
//                         a group, and the positions of an alphabet's digraphs are kept even where
//                         a group has no digraph entries),
//      then               each distinct OTHER LETTER base (letters of other scripts), in ICU root
//                         collation order.
//    A group may anchor its alphabet: HUNGARY places its alphabet so that the trigraph position
//    dzs gets the fixed weight 0x72 of the trigraph entries; the weights between the
//    digits and the alphabet then stay unused.
//    The alphabets (kGroups below) are ordered lists of letters and digraphs; "x/y" lists y as a
//    variant form of the letter x. The western Latin alphabet, used by GENERAL, GERMAN, DUTCH and
//    SPANISH, is a b c (ch) d eth e f g h i j k l (ll) m n n-tilde o o-stroke p ... z, where (ch)
//    and (ll) are the Spanish digraphs. In Windows-1252 this gives the fixed rows: 68
//    symbols, so digit zero is 0x56 and the letters start at 0x60 (a 0x60, b 0x61, c 0x62, the
//    Spanish ch 0x63 and d 0x64, l 0x6D, ll 0x6E, m 0x6F, y 0x7D, z 0x7E).
//
// 5. Entry kinds. An expansion is kind 2. A letter of the alphabet that has accented forms in the
//    code page is kind 1 also in its plain form (secondary 0), so that the secondary weights of a
//    key stay aligned letter by letter; any other character is kind 1 when it has a non-zero
//    secondary, else kind 0. Kinds 3 to 5 are not produced.
//
// 6. Multi-character entries (the fixed lists, every upper/lower-case combination): SPANISH ch
//    and ll (kind 6, kind 7 in the Mac Roman table), CZECH and SLOVAK ch (kind 6), NORDAN aa
//    sorting as a-ring (kind 6 in the 437 and 865 tables, kind 7 in the 850, 1252 and 10000 tables),
//    HUNGARY cs dz gy ly ny sz ty zs (kind 6) and the trigraphs dzs and ozs (kind 8), both with
//    the weight of the alphabet's dzs position, the fixed 0x72 (so ozs sorts as dzs, as
//    the fixed list has it). A kind 7 entry has the secondary 19 (DIGRAPH).
//
// 7. Rows are sorted by ascending weights (primary, then secondary, then the characters).
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucol.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/uvernum.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void die(const std::string& msg) {
  fprintf(stderr, "qz_gen_collation_tables: %s\n", msg.c_str());
  exit(1);
}

std::string hex(uint32_t v, int w = 2) {
  char b[16];
  snprintf(b, sizeof b, "0x%0*X", w, v);
  return b;
}

// ---------------------------------------------------------------------------------------------
// Code pages
// ---------------------------------------------------------------------------------------------

enum Source { ICU, RECODE_KEYBCS2, MAZOVIA };

struct CodePage {
  int cp;
  const char* icu_name;  // the converter of the charset record
  Source source;
};

const CodePage kCodePages[] = {
    {437, "ibm-437_P100-1995", ICU},      {620, "ibm-437_P100-1995", MAZOVIA},
    {737, "ibm-737_P100-1997", ICU},      {850, "ibm-850_P100-1995", ICU},
    {852, "ibm-852_P100-1995", ICU},      {857, "ibm-857_P100-1995", ICU},
    {861, "ibm-861_P100-1995", ICU},      {865, "ibm-865_P100-1995", ICU},
    {866, "ibm-866_P100-1995", ICU},      {895, nullptr, RECODE_KEYBCS2},
    {1250, "ibm-5346_P100-1998", ICU},    {1251, "ibm-5347_P100-1998", ICU},
    {1252, "ibm-5348_P100-1997", ICU},    {1253, "ibm-5349_P100-1998", ICU},
    {1254, "ibm-5350_P100-1998", ICU},    {10000, "macos-0_2-10.2", ICU},
};

// Mazovia (code page 620): IBM 437 with these Polish letters.
const struct {
  uint8_t byte;
  char16_t unit;
} kMazovia[] = {
    {0x86, 0x0105}, {0x8D, 0x0107}, {0x8F, 0x0104}, {0x90, 0x0118}, {0x91, 0x0119}, {0x92, 0x0142},
    {0x95, 0x0106}, {0x98, 0x015A}, {0x9C, 0x0141}, {0x9E, 0x015B}, {0xA0, 0x0179}, {0xA1, 0x017B},
    {0xA3, 0x00D3}, {0xA4, 0x0144}, {0xA5, 0x0143}, {0xA6, 0x017A}, {0xA7, 0x017C},
};

std::vector<UChar32> icu_decode(const char* icu_name) {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* cnv = ucnv_open(icu_name, &status);
  if (U_FAILURE(status)) die(std::string("cannot open ICU converter ") + icu_name);
  ucnv_setToUCallBack(cnv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  std::vector<UChar32> map(256, 0xFFFD);
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    UChar out[4];
    status = U_ZERO_ERROR;
    ucnv_resetToUnicode(cnv);
    int32_t n = ucnv_toUChars(cnv, out, 4, &in, 1, &status);
    if (U_SUCCESS(status) && n == 1) map[b] = out[0];
  }
  ucnv_close(cnv);
  return map;
}

std::vector<UChar32> recode_decode(const std::string& recode, const std::string& charset, const std::string& tmp) {
  std::string in_path = tmp + ".in", out_path = tmp + ".out";
  {
    std::ofstream in(in_path, std::ios::binary | std::ios::trunc);
    for (int b = 0; b < 256; ++b) in.put(static_cast<char>(b));
    if (!in) die("cannot write " + in_path);
  }
  std::string cmd = "'" + recode + "' -f " + charset + "..UTF-16BE < '" + in_path + "' > '" + out_path + "'";
  if (system(cmd.c_str()) != 0) die("recode failed: " + cmd);
  std::ifstream out(out_path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
  if (bytes.size() == 514 && static_cast<uint8_t>(bytes[0]) == 0xFE && static_cast<uint8_t>(bytes[1]) == 0xFF)
    bytes.erase(0, 2);
  if (bytes.size() != 512) die("recode " + charset + " gave " + std::to_string(bytes.size()) + " bytes");
  std::vector<UChar32> map(256);
  for (int b = 0; b < 256; ++b)
    map[b] = (static_cast<uint8_t>(bytes[2 * b]) << 8) | static_cast<uint8_t>(bytes[2 * b + 1]);
  std::remove(in_path.c_str());
  std::remove(out_path.c_str());
  return map;
}

// ---------------------------------------------------------------------------------------------
// Groups: alphabets and multi-character entries
// ---------------------------------------------------------------------------------------------

enum Group {
  GENERAL = 2, GREEK = 3, GERMAN = 4, POLISH = 5, TURKISH = 6, ICELAND = 7, NORDAN = 8, SWEFIN = 9,
  RUSSIAN = 10, CZECH = 12, SLOVAK = 13, HUNGARY = 14, SPANISH = 15, DUTCH = 16,
};

struct Multi {
  const char* letters;  // lower case, 2 or 3 ASCII letters
  const char* entry;    // the alphabet entry whose weight it takes, or null: `weight`
  int weight;           // explicit primary weight (the fixed one, for the Hungarian trigraphs)
};

struct GroupSpec {
  Group group;
  const char* name;
  // Entries separated by blanks, in order; "x/y/z": y and z are variant forms of x. A multi-letter
  // entry is a digraph position. Written in UTF-8.
  const char* alphabet;
  std::vector<Multi> multi;
  bool turkic;        // Turkic case folding
  bool german_umlauts;  // a-, o-, u-diaeresis expand into ae, oe, ue (German phone-book order)
  // Anchor: the alphabet entry whose primary weight is fixed, and that weight; the alphabet
  // then starts there instead of right after the digits. Null: no anchor.
  const char* anchor_entry = nullptr;
  int anchor_weight = 0;
};

// The western Latin alphabet: ASCII letters, eth and o-stroke as letters of their own, n-tilde,
// and the positions of the Spanish digraphs.
#define WESTERN "a b c ch d ð e f g h i j k l ll m n ñ o ø p q r s t u v w x y z"
#define BASIC_LATIN "a b c d e f g h i j k l m n o p q r s t u v w x y z"

const GroupSpec kGroups[] = {
    {GENERAL, "general", WESTERN, {}, false, false},
    {GERMAN, "german", WESTERN, {}, false, true},
    {DUTCH, "dutch", WESTERN, {}, false, false},
    {SPANISH, "spanish", WESTERN, {{"ch", "ch", 0}, {"ll", "ll", 0}}, false, false},
    {ICELAND, "iceland",
     "a á b c d ð e é f g h i í j k l m n o ó p q r s t u ú v w x y ý z þ æ/ä ö/ø", {}, false, false},
    {NORDAN, "nordan", "a b c d ð e f g h i j k l m n o p q r s t u v w x y/ü z æ/ä ø/ö å",
     {{"aa", "å", 0}}, false, false},
    {SWEFIN, "swefin", "a b c d ð e f g h i j k l m n o p q r s t u v w x y/ü z å ä/æ ö/ø", {}, false, false},
    {POLISH, "polish", "a ą b c ć d e ę f g h i j k l ł m n ń o ó p q r s ś t u v w x y z ź ż", {}, false,
     false},
    {TURKISH, "turkish", "a b c ç d e f g ğ h ı i j k l m n o ö p q r s ş t u ü v w x y z", {}, true, false},
    {CZECH, "czech", "a b c č d e f g h ch i j k l m n o p q r ř s š t u v w x y z ž", {{"ch", "ch", 0}},
     false, false},
    {SLOVAK, "slovak", "a ä b c č d e f g h ch i j k l m n o ô p q r s š t u v w x y z ž",
     {{"ch", "ch", 0}}, false, false},
    {HUNGARY, "hungary",
     "a b c cs d dz dzs e f g gy h i j k l ly m n ny o ö/ő p q r s sz t ty u ü/ű v w x y z zs",
     {{"cs", "cs", 0}, {"dz", "dz", 0}, {"gy", "gy", 0}, {"ly", "ly", 0}, {"ny", "ny", 0},
      {"sz", "sz", 0}, {"ty", "ty", 0}, {"zs", "zs", 0}, {"dzs", "dzs", 0}, {"ozs", "dzs", 0}},
     false, false, "dzs", 0x72},
    {GREEK, "greek", BASIC_LATIN " α β γ δ ε ζ η θ ι κ λ μ ν ξ ο π ρ σ τ υ φ χ ψ ω", {}, false, false},
    {RUSSIAN, "russian",
     BASIC_LATIN " а б в г ґ д ђ е є ж з ѕ и і й ј к л љ м н њ о п р с т ћ у ф х ц ч џ ш щ ъ ы ь э ю я",
     {}, false, false},
};

struct TableSpec {
  int cp;
  Group group;
  size_t rows;  // the fixed row count
  int digraph_kind;  // 6 or 7 for the two-character entries
};

const TableSpec kTables[] = {
    {437, DUTCH, 256, 6},    {437, GENERAL, 256, 6},   {437, GERMAN, 256, 6},   {437, ICELAND, 256, 6},
    {437, NORDAN, 260, 6},   {437, SPANISH, 264, 6},   {437, SWEFIN, 256, 6},   {620, GENERAL, 256, 6},
    {620, POLISH, 256, 6},   {737, GREEK, 256, 6},     {850, DUTCH, 256, 6},    {850, GENERAL, 256, 6},
    {850, ICELAND, 256, 6},  {850, NORDAN, 260, 7},    {850, SPANISH, 264, 6},  {850, SWEFIN, 256, 6},
    {852, GENERAL, 256, 6},  {857, GENERAL, 256, 6},   {857, TURKISH, 256, 6},  {861, GENERAL, 256, 6},
    {861, ICELAND, 256, 6},  {865, GENERAL, 256, 6},   {865, NORDAN, 260, 6},   {865, SWEFIN, 256, 6},
    {866, RUSSIAN, 256, 6},  {895, GENERAL, 256, 6},   {895, CZECH, 260, 6},    {895, SLOVAK, 260, 6},
    {1250, GENERAL, 256, 6}, {1250, CZECH, 260, 6},    {1250, HUNGARY, 304, 6}, {1250, POLISH, 256, 6},
    {1250, SLOVAK, 260, 6},  {1251, RUSSIAN, 256, 6},  {1252, GENERAL, 256, 6}, {1252, GERMAN, 256, 6},
    {1252, NORDAN, 260, 7},  {1252, SPANISH, 264, 6},  {1252, SWEFIN, 256, 6},  {1253, GREEK, 256, 6},
    {1254, GENERAL, 256, 6}, {1254, TURKISH, 256, 6},  {10000, DUTCH, 256, 6},  {10000, GENERAL, 256, 6},
    {10000, GERMAN, 256, 6}, {10000, NORDAN, 260, 7},  {10000, SPANISH, 264, 7}, {10000, SWEFIN, 256, 6},
};

// ---------------------------------------------------------------------------------------------
// Accents
// ---------------------------------------------------------------------------------------------

enum : int {
  SEC_STROKE = 14, SEC_HOOK = 15, SEC_DOTLESS = 16, SEC_DIGRAPH = 19, SEC_VARIANT = 20, SEC_FRACTION = 21,
};

int accent_code(const std::vector<UChar32>& marks) {
  if (marks.empty()) return 0;
  if (marks.size() == 2 && marks[0] == 0x0308 && marks[1] == 0x0301) return 17;
  if (marks.size() != 1) {
    std::string s;
    for (UChar32 m : marks) s += " U+" + hex(m, 4).substr(2);
    die("accent sequence without a code:" + s);
  }
  switch (marks[0]) {
    case 0x0301: return 1;   // acute (also the Greek tonos)
    case 0x0300: return 2;   // grave
    case 0x0302: return 3;   // circumflex
    case 0x0308: return 4;   // diaeresis
    case 0x0303: return 5;   // tilde
    case 0x030A: return 6;   // ring above
    case 0x0327: return 7;   // cedilla
    case 0x030C: return 8;   // caron
    case 0x0328: return 9;   // ogonek
    case 0x030B: return 10;  // double acute
    case 0x0306: return 11;  // breve
    case 0x0307: return 12;  // dot above
    case 0x0304: return 13;  // macron
    case 0x0326: return 18;  // comma below
    case 0x0333: return 22;  // double low line (the spacing double underscore)
    case 0x0305: return 23;  // overline
    case 0x0332: return 24;  // low line
    default:
      // Any other combining diacritical mark: 0x40 + its offset in the block (U+0300..U+036F).
      if (marks[0] >= 0x0300 && marks[0] <= 0x036F) return 0x40 + (marks[0] - 0x0300);
      die("combining mark without a code: U+" + hex(marks[0], 4).substr(2));
  }
}

// Letters with a stroke, hook or missing dot that Unicode does not decompose (rule 2h).
bool stroke_fold(UChar32 c, UChar32* base, int* sec) {
  switch (c) {
    case 0x0111: *base = 'd'; *sec = SEC_STROKE; return true;  // d with stroke
    case 0x00F0: *base = 'd'; *sec = SEC_STROKE; return true;  // eth
    case 0x0142: *base = 'l'; *sec = SEC_STROKE; return true;  // l with stroke
    case 0x00F8: *base = 'o'; *sec = SEC_STROKE; return true;  // o with stroke
    case 0x0127: *base = 'h'; *sec = SEC_STROKE; return true;  // h with stroke
    case 0x0131: *base = 'i'; *sec = SEC_DOTLESS; return true;  // dotless i
    case 0x0192: *base = 'f'; *sec = SEC_HOOK; return true;    // f with hook
    default: return false;
  }
}

// ---------------------------------------------------------------------------------------------
// Classification
// ---------------------------------------------------------------------------------------------

enum Class { IGNORABLE, SPACE, SYMBOL, DIGIT, LETTER, OTHER, EXPANSION };

struct Folded {
  Class cls = IGNORABLE;
  UChar32 base = 0;     // SYMBOL, DIGIT (value), OTHER: the base character
  int entry = -1;       // LETTER: the alphabet entry
  int sec = 0;
  uint8_t exp[2] = {0, 0};  // EXPANSION: the two bytes
};

std::u32string utf8_to_u32(const std::string& s) {
  icu::UnicodeString u = icu::UnicodeString::fromUTF8(s);
  std::u32string r;
  for (int32_t i = 0; i < u.length();) {
    UChar32 c = u.char32At(i);
    r.push_back(static_cast<char32_t>(c));
    i += U16_LENGTH(c);
  }
  return r;
}

struct Alphabet {
  std::vector<std::u32string> entries;     // primary form of each entry
  std::map<UChar32, std::pair<int, int>> forms;  // single-character form -> (entry, secondary)
  std::map<std::u32string, int> by_name;
};

class Table;

struct Ctx {
  const GroupSpec* group;
  const std::vector<UChar32>* map;
  std::map<UChar32, int> reverse;  // code point -> lowest byte
  Alphabet alpha;
  const icu::Normalizer2* nfkd;
  const icu::Normalizer2* nfd;
};

UChar32 fold(UChar32 c, bool turkic) {
  return u_foldCase(c, turkic ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT);
}

bool is_ignorable(UChar32 u) {
  if (u == 0xFFFD) return true;
  int8_t gc = u_charType(u);
  return gc == U_CONTROL_CHAR || gc == U_FORMAT_CHAR || gc == U_PRIVATE_USE_CHAR || gc == U_UNASSIGNED ||
         gc == U_SURROGATE;
}

Alphabet build_alphabet(const GroupSpec& g, const icu::Normalizer2* nfd) {
  Alphabet a;
  std::istringstream in(g.alphabet);
  std::string word;
  while (in >> word) {
    std::vector<std::string> forms;
    size_t start = 0;
    for (;;) {
      size_t slash = word.find('/', start);
      forms.push_back(word.substr(start, slash - start));
      if (slash == std::string::npos) break;
      start = slash + 1;
    }
    int entry = static_cast<int>(a.entries.size());
    std::u32string primary = utf8_to_u32(forms[0]);
    a.entries.push_back(primary);
    a.by_name[primary] = entry;
    for (size_t i = 0; i < forms.size(); ++i) {
      std::u32string f = utf8_to_u32(forms[i]);
      if (f.size() != 1) continue;  // digraph positions have no single-character form
      int sec = 0;
      if (i > 0) {
        // A variant form: its accents in NFD, else the pseudo-accent of a stroke letter, else VARIANT.
        UErrorCode st = U_ZERO_ERROR;
        icu::UnicodeString d = nfd->normalize(icu::UnicodeString(static_cast<UChar32>(f[0])), st);
        std::vector<UChar32> marks;
        for (int32_t k = 0; k < d.length();) {
          UChar32 c = d.char32At(k);
          if (u_charType(c) == U_NON_SPACING_MARK) marks.push_back(c);
          k += U16_LENGTH(c);
        }
        UChar32 b;
        sec = accent_code(marks);
        if (sec == 0 && stroke_fold(static_cast<UChar32>(f[0]), &b, &sec)) {
        }
        if (sec == 0) sec = SEC_VARIANT;
      }
      a.forms[static_cast<UChar32>(f[0])] = {entry, sec};
    }
  }
  return a;
}

bool alphabet_lookup(const Ctx& ctx, UChar32 c, int* entry, int* sec) {
  auto it = ctx.alpha.forms.find(c);
  if (it == ctx.alpha.forms.end()) return false;
  *entry = it->second.first;
  *sec = it->second.second;
  return true;
}

Folded classify_base(const Ctx& ctx, UChar32 c, int sec) {
  Folded f;
  f.sec = sec;
  int entry, esec;
  if (u_isUWhiteSpace(c) && !is_ignorable(c)) {
    f.cls = SPACE;
    return f;
  }
  if (alphabet_lookup(ctx, c, &entry, &esec)) {
    f.cls = LETTER;
    f.entry = entry;
    if (esec && !sec) f.sec = esec;
    return f;
  }
  UChar32 b;
  int psec;
  if (stroke_fold(c, &b, &psec) && alphabet_lookup(ctx, b, &entry, &esec)) {
    f.cls = LETTER;
    f.entry = entry;
    f.sec = sec ? sec : psec;
    return f;
  }
  if (u_charType(c) == U_DECIMAL_DIGIT_NUMBER) {
    f.cls = DIGIT;
    f.base = u_charDigitValue(c);
    return f;
  }
  int8_t gc = u_charType(c);
  if (u_isalpha(c) && gc != U_MODIFIER_LETTER) {
    f.cls = OTHER;
    f.base = c;
    return f;
  }
  f.cls = SYMBOL;
  f.base = c;
  return f;
}

uint8_t upper_byte(const Ctx& ctx, UChar32 c) {
  UChar32 up = u_toupper(c);
  auto it = ctx.reverse.find(up);
  if (it == ctx.reverse.end()) it = ctx.reverse.find(c);
  return static_cast<uint8_t>(it->second);
}

Folded fold_char(const Ctx& ctx, UChar32 u) {
  Folded f;
  if (is_ignorable(u)) return f;  // IGNORABLE
  bool turkic = ctx.group->turkic;
  UChar32 c = fold(u, turkic);
  int entry, sec;
  // c. the alphabet
  if (alphabet_lookup(ctx, c, &entry, &sec)) {
    f.cls = LETTER;
    f.entry = entry;
    f.sec = sec;
    return f;
  }
  // d. ligatures (and the German umlauts of the phone-book order)
  const char* lig = nullptr;
  switch (c) {
    case 0x00E6: lig = "AE"; break;  // ae
    case 0x0153: lig = "OE"; break;  // oe
    case 0x00DF: lig = "SS"; break;  // sharp s
    case 0x00FE: lig = "TH"; break;  // thorn
    case 0x00E4: if (ctx.group->german_umlauts) lig = "AE"; break;
    case 0x00F6: if (ctx.group->german_umlauts) lig = "OE"; break;
    case 0x00FC: if (ctx.group->german_umlauts) lig = "UE"; break;
    default: break;
  }
  if (lig) {
    f.cls = EXPANSION;
    f.exp[0] = upper_byte(ctx, lig[0]);
    f.exp[1] = upper_byte(ctx, lig[1]);
    return f;
  }
  // e. NFKD
  UErrorCode st = U_ZERO_ERROR;
  icu::UnicodeString d = ctx.nfkd->normalize(icu::UnicodeString(c), st);
  if (U_FAILURE(st)) die("NFKD failed");
  std::vector<UChar32> marks, base;
  for (int32_t k = 0; k < d.length();) {
    UChar32 x = d.char32At(k);
    if (u_charType(x) == U_NON_SPACING_MARK)
      marks.push_back(x);
    else
      base.push_back(fold(x, turkic));
    k += U16_LENGTH(x);
  }
  if (base.empty()) return f;  // a lone combining mark: ignorable
  if (base.size() == 1) return classify_base(ctx, base[0], accent_code(marks));
  if (base.size() == 2 && ctx.reverse.count(u_toupper(base[0])) && ctx.reverse.count(u_toupper(base[1]))) {
    f.cls = EXPANSION;
    f.exp[0] = upper_byte(ctx, base[0]);
    f.exp[1] = upper_byte(ctx, base[1]);
    return f;
  }
  if (u_charType(c) == U_OTHER_NUMBER && u_charType(base[0]) == U_DECIMAL_DIGIT_NUMBER) {
    f.cls = DIGIT;
    f.base = u_charDigitValue(base[0]);
    f.sec = SEC_FRACTION;
    return f;
  }
  return classify_base(ctx, c, 0);
}

// ---------------------------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------------------------

struct Row {
  uint32_t kind;
  uint8_t c1, c2, c3, w1, w2, s1, s2;
  UChar32 unit;  // the decoded character (comment only)
};

struct Collator {
  UCollator* coll;
  Collator() {
    UErrorCode st = U_ZERO_ERROR;
    coll = ucol_open("", &st);
    if (U_FAILURE(st)) die("cannot open the ICU root collator");
  }
  ~Collator() { ucol_close(coll); }
  std::string key(UChar32 c) const {
    UChar buf[2];
    int32_t n = 0;
    U16_APPEND_UNSAFE(buf, n, c);
    uint8_t k[128];
    int32_t kl = ucol_getSortKey(coll, buf, n, k, sizeof k);
    return std::string(reinterpret_cast<char*>(k), kl);
  }
};

// Orders code points by the ICU root collation, code point as the tie-break.
std::vector<UChar32> root_order(const Collator& col, const std::set<UChar32>& s) {
  std::vector<std::pair<std::string, UChar32>> v;
  for (UChar32 c : s) v.push_back({col.key(c), c});
  std::sort(v.begin(), v.end());
  std::vector<UChar32> r;
  for (auto& p : v) r.push_back(p.second);
  return r;
}

std::vector<Row> build_table(const TableSpec& t, const std::vector<UChar32>& map, const Collator& col,
                             std::string* listing) {
  const GroupSpec* g = nullptr;
  for (const GroupSpec& gs : kGroups)
    if (gs.group == t.group) g = &gs;
  if (!g) die("no group spec");
  Ctx ctx;
  ctx.group = g;
  ctx.map = &map;
  UErrorCode st = U_ZERO_ERROR;
  ctx.nfkd = icu::Normalizer2::getNFKDInstance(st);
  ctx.nfd = icu::Normalizer2::getNFDInstance(st);
  if (U_FAILURE(st)) die("no ICU normalizer");
  for (int b = 255; b >= 0; --b)
    if (map[b] != 0xFFFD) ctx.reverse[map[b]] = b;  // the lowest byte wins
  ctx.alpha = build_alphabet(*g, ctx.nfd);

  std::vector<Folded> folded(256);
  std::set<UChar32> symbols, others;
  for (int b = 0; b < 256; ++b) {
    folded[b] = fold_char(ctx, map[b]);
    if (folded[b].cls == SYMBOL) symbols.insert(folded[b].base);
    if (folded[b].cls == OTHER) others.insert(folded[b].base);
  }
  // Dense primary weights.
  int next = 0x12;
  std::map<UChar32, int> symbol_w, other_w;
  for (UChar32 c : root_order(col, symbols)) symbol_w[c] = next++;
  int digit0 = next;
  next += 10;
  int letter0 = next;
  if (g->anchor_entry) {
    auto it = ctx.alpha.by_name.find(utf8_to_u32(g->anchor_entry));
    if (it == ctx.alpha.by_name.end()) die(std::string("no anchor entry ") + g->anchor_entry);
    letter0 = g->anchor_weight - it->second;
    if (letter0 < next) die("the anchor of " + std::string(g->name) + " falls below the digits");
  }
  next = letter0 + static_cast<int>(ctx.alpha.entries.size());
  for (UChar32 c : root_order(col, others)) other_w[c] = next++;
  if (next > 0x100) die("weights overflow in table " + std::to_string(t.cp) + " " + g->name);

  // Letters with accented forms in this code page: kind 1 also for their plain form.
  std::set<int> accented;
  for (int b = 0; b < 256; ++b)
    if (folded[b].cls == LETTER && folded[b].sec) accented.insert(folded[b].entry);

  std::vector<Row> rows;
  for (int b = 0; b < 256; ++b) {
    const Folded& f = folded[b];
    Row r{};
    r.c1 = static_cast<uint8_t>(b);
    r.unit = map[b];
    switch (f.cls) {
      case IGNORABLE: r.w1 = 0x10; break;
      case SPACE: r.w1 = 0x11; break;
      case SYMBOL: r.w1 = static_cast<uint8_t>(symbol_w[f.base]); break;
      case DIGIT: r.w1 = static_cast<uint8_t>(digit0 + f.base); break;
      case LETTER: r.w1 = static_cast<uint8_t>(letter0 + f.entry); break;
      case OTHER: r.w1 = static_cast<uint8_t>(other_w[f.base]); break;
      case EXPANSION: break;
    }
    if (f.cls == EXPANSION) {
      r.kind = 2;
      r.w1 = f.exp[0];
      r.w2 = f.exp[1];
    } else if (f.sec || (f.cls == LETTER && accented.count(f.entry))) {
      r.kind = 1;
      r.s1 = static_cast<uint8_t>(f.sec);
    } else {
      r.kind = 0;
    }
    rows.push_back(r);
  }
  // Multi-character entries, every case combination.
  for (const Multi& m : g->multi) {
    size_t n = strlen(m.letters);
    int w = m.weight;
    if (m.entry) {
      auto it = ctx.alpha.by_name.find(utf8_to_u32(m.entry));
      if (it == ctx.alpha.by_name.end()) die(std::string("no alphabet entry ") + m.entry);
      w = letter0 + it->second;
    }
    for (unsigned mask = 0; mask < (1u << n); ++mask) {
      Row r{};
      uint8_t cs[3] = {0, 0, 0};
      for (size_t i = 0; i < n; ++i) {
        char ch = m.letters[i];
        cs[i] = static_cast<uint8_t>((mask >> (n - 1 - i)) & 1 ? ch - 'a' + 'A' : ch);
      }
      r.c1 = cs[0];
      r.c2 = cs[1];
      r.c3 = cs[2];
      r.w1 = static_cast<uint8_t>(w);
      r.unit = -1;
      if (n == 3) {
        r.kind = 8;
      } else if (t.digraph_kind == 7) {
        r.kind = 7;
        r.s1 = SEC_DIGRAPH;
      } else {
        r.kind = 6;
      }
      rows.push_back(r);
    }
  }
  if (rows.size() != t.rows)
    die("table " + std::to_string(t.cp) + " " + g->name + " has " + std::to_string(rows.size()) + " rows, not " +
        std::to_string(t.rows));
  // Ascending weight order. An expansion sorts by the weights of its first character.
  auto order_w = [&](const Row& r) {
    if (r.kind != 2) return std::make_tuple(int(r.w1), int(r.w2), int(r.s1), int(r.s2));
    const Row& a = rows[r.w1];
    return std::make_tuple(int(a.w1), 0x100 + int(rows[r.w2].w1), int(a.s1), 0);
  };
  std::vector<Row> sorted = rows;
  std::stable_sort(sorted.begin(), sorted.end(), [&](const Row& a, const Row& b) {
    auto ka = order_w(a), kb = order_w(b);
    if (ka != kb) return ka < kb;
    return std::make_tuple(a.c1, a.c2, a.c3) < std::make_tuple(b.c1, b.c2, b.c3);
  });
  if (listing) {
    std::ostringstream os;
    os << "== codepage_" << t.cp << "_" << g->name << "_ci_table: symbols " << symbols.size() << ", digit 0 at "
       << hex(digit0) << ", letters at " << hex(letter0) << ", others " << others.size() << "\n";
    for (const Row& r : sorted) {
      char nm[100] = "";
      if (r.unit >= 0) {
        UErrorCode e = U_ZERO_ERROR;
        u_charName(r.unit, U_UNICODE_CHAR_NAME, nm, sizeof nm, &e);
      }
      os << "  kind " << r.kind << " chars " << hex(r.c1) << " " << hex(r.c2) << " " << hex(r.c3) << "  w "
         << hex(r.w1) << " " << hex(r.w2) << "  s " << int(r.s1) << " " << int(r.s2) << "  " << nm << "\n";
    }
    *listing += os.str();
  }
  return sorted;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) die("usage: qz_gen_collation_tables OUTPUT.cpp RECODE-PROGRAM [--dump]");
  std::string output = argv[1];
  std::string recode = argv[2];
  bool dump = argc > 3 && std::string(argv[3]) == "--dump";

  std::map<int, std::vector<UChar32>> maps;
  for (const CodePage& cp : kCodePages) {
    std::vector<UChar32> m;
    if (cp.source == RECODE_KEYBCS2) {
      m = recode_decode(recode, "KEYBCS2", output + ".keybcs2");
    } else {
      m = icu_decode(cp.icu_name);
      if (cp.source == MAZOVIA)
        for (auto& e : kMazovia) m[e.byte] = e.unit;
    }
    maps[cp.cp] = m;
  }

  Collator col;
  std::ostringstream os;
  std::string listing;
  os << "// Generated at build time by qz_gen_collation_tables (runtime/values/gen/collation/) from ICU "
        U_ICU_VERSION " and GNU recode. Do not edit: the derivation rule is described in the generator.\n"
     << "#include \"values/collation.h\"\n\nnamespace qzbase {\n\n";
  for (const TableSpec& t : kTables) {
    const char* gname = nullptr;
    for (const GroupSpec& gs : kGroups)
      if (gs.group == t.group) gname = gs.name;
    std::vector<Row> rows = build_table(t, maps[t.cp], col, dump ? &listing : nullptr);
    std::string name = "codepage_" + std::to_string(t.cp) + "_" + gname + "_ci_table";
    os << "const collation_entry_st " << name << "[" << rows.size() << "] = {\n";
    for (const Row& r : rows) {
      os << "    {" << r.kind << ", " << hex(r.c1) << ", " << hex(r.c2) << ", " << hex(r.c3) << ", " << hex(r.w1)
         << ", " << hex(r.w2) << ", 0, " << hex(r.s1) << ", " << hex(r.s2) << ", {0, 0, 0, 0}},";
      if (r.unit >= 0) os << "  // U+" << hex(r.unit, 4).substr(2);
      os << "\n";
    }
    os << "};\n\n";
  }
  // The decodings the tables were derived from, for the tests.
  for (auto& [cp, m] : maps) {
    os << "static const char32_t source_units_" << cp << "[256] = {";
    for (int b = 0; b < 256; ++b) os << (b % 8 ? " " : "\n    ") << hex(m[b], 4) << ",";
    os << "\n};\n";
  }
  os << "\nconst char32_t* collation_source_units(int codepage) {\n  switch (codepage) {\n";
  for (auto& [cp, m] : maps) os << "    case " << cp << ": return source_units_" << cp << ";\n";
  os << "    default: return nullptr;\n  }\n}\n\n}  // namespace qzbase\n";

  std::string tmp = output + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f << os.str();
    if (!f) die("cannot write " + tmp);
  }
  if (std::rename(tmp.c_str(), output.c_str()) != 0) die("cannot rename " + tmp);
  if (dump) fputs(listing.c_str(), stdout);
  return 0;
}
