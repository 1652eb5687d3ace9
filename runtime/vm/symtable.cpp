// symtable.cpp - the symbol table.
//
// Names are kept and looked up as UTF-8 bytes: a name in another charset is converted once before
// the lookup. Hash and equality fold each code point with u_toupper (ASCII letters without the
// call), which is the order Collation::unicode_machine_ci compares by, so two names that collation
// calls equal share one id.
#include "vm/symtable.h"

#include <unicode/uchar.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace qzbase {

const predefined_symbol_st predefined_symbols[] = {
    {"THIS", 1},          {"THISFORM", 2},      {"INIT", 3},           {"DESTROY", 4},
    {"ADD", 5},           {"[]", 6},            {"COUNT", 7},          {"REMOVE", 8},
    {"IN", 11},           {"SHARED", 12},       {"ALIAS", 13},         {"AGAIN", 14},
    {"SELECT", 15},       {"DIMENSION", 16},    {"OFF", 17},           {"ON", 18},
    {"STEP", 19},         {"TEXTMERGE", 20},    {"TO_MEMVAR", 21},     {"ADDITIVE", 22},
    {"SHOW", 23},         {"NOSHOW", 24},       {"TO", 25},            {"TXMBUF", 26},
    {"TOP", 27},          {"BOTTOM", 28},       {"RECORD", 29},        {"EXACT", 30},
    {"M", 31},            {"BATCHMODE", 32},    {"ERRORNO", 33},       {"MESSAGE", 34},
    {"EXCEPTION", 35},    {"DATASESSION", 36},  {"SESSION", 37},       {"DATASESSIONID", 38},
    {"ADDOBJECT", 39},    {"ADDPROPERTY", 40},  {"BASECLASS", 41},     {"CLASS", 42},
    {"CLASSLIBRARY", 43}, {"COMMENT", 44},      {"CONTROLCOUNT", 45},  {"CONTROLS", 46},
    {"ERROR", 47},        {"PATH", 48},         {"__DIR__", 49},       {"__FILE__", 50},
    {"MEMVAR", 51},       {"AT", 52},           {"IIF", 53},           {"EVL", 54},
    {"NVL", 55},          {"ARGC", 56},         {"ARGV", 57},          {"COMPAT", 58},
    {"QZCLASSIC", 59},    {"I", 60},            {"INTEGER", 61},       {"Y", 62},
    {"MONEY", 63},        {"F", 64},            {"B", 66},             {"DOUBLE", 67},
    {"N", 68},            {"NUMERIC", 69},      {"STORE", 70},         {"EMPTY", 71},
    {"__LINE__", 72},     {"__COLUMN__", 73},   {"__OFFSET__", 74},    {"COLLECTION", 75},
    {"FLOOR", 76},        {"FOR", 77},          {"REST", 78},          {"WHILE", 79},
    {"__QZ__", 80},       {"EOF", 81},          {"TEXT", 82},          {"ODBCHDBC", 83},
    {"ODBCHSTMT", 84},    {"SHA2_256", 85},     {"SHA2_384", 86},      {"SHA2_512", 87},
    {"SHA1", 88},         {"MD5", 89},          {"NEWOBJECT", 90},     {"DODEFAULT", 91},
    {"CREATEOBJECT", 92}, {"DELETED", 93},      {"GET_ENUMERATOR", 94}, {"CODEPAGE", 95},
    {"ENGINE", 96},       {"QZOBJECT", 97},     {"KEY", 98},           {"VALUE", 99},
    {"CURRENCY", 100},    {nullptr, 0},
};

static_assert(sizeof(predefined_symbols) / sizeof(predefined_symbols[0]) == predefined_symbol_count + 1);

namespace {

constexpr uint32_t kFnvBasis = 2166136261u;
constexpr uint32_t kFnvPrime = 16777619u;

inline char32_t ascii_upper(char32_t c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

// The next code point of UTF-8 text, folded to upper case.
inline char32_t next_folded(const char** p, const char* end) {
  auto b = static_cast<unsigned char>(**p);
  if (b < 0x80) {
    ++*p;
    return ascii_upper(b);
  }
  char32_t c = Charset::utf8->next(p, end);
  return static_cast<char32_t>(u_toupper(static_cast<UChar32>(c)));
}

// A name's bytes as UTF-8: in place for UTF-8 and ASCII text, else through a converted copy.
// True when the charset stores the 128 ASCII characters as the bytes 0 to 127, as UTF-8 does, so
// that a name of such bytes is already its own UTF-8. Learnt once per charset and thread: names
// are symbolized on every field assignment, and the charset of a program's names rarely changes.
bool ascii_transparent(const Charset* cs) {
  thread_local const Charset* known = nullptr;
  thread_local bool answer = false;
  if (cs == known) return answer;
  char ascii[128];
  for (int i = 0; i < 128; ++i) ascii[i] = static_cast<char>(i);
  bool same = false;
  try {
    String probe(ascii, sizeof ascii, cs);
    probe.convert(Charset::utf8, CON_NONE, 0);
    same = probe.size() == sizeof ascii && std::memcmp(probe.read(), ascii, sizeof ascii) == 0;
  } catch (...) {
  }
  known = cs;
  answer = same;
  return answer;
}

bool all_ascii(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
  }
  return true;
}

class Utf8Name {
 public:
  explicit Utf8Name(const String& name) {
    const Charset* cs = name.get_charset();
    if (cs == Charset::utf8 || cs == Charset::ascii ||
        (all_ascii(name.read(), name.size()) && ascii_transparent(cs))) {
      view_ = std::string_view(name.read(), name.size());
    } else {
      converted_ = name;
      converted_.convert(Charset::utf8, CON_NONE, 0);
      view_ = std::string_view(converted_.read(), converted_.size());
    }
  }
  std::string_view view() const { return view_; }

 private:
  String converted_;
  std::string_view view_;
};

// Holds the calling thread's stripe of the lock shared for its scope.
class SharedGuard {
 public:
  explicit SharedGuard(const StripedSharedMutex& m) : m_(m), stripe_(m.lock_shared()) {}
  ~SharedGuard() { m_.unlock_shared(stripe_); }
  SharedGuard(const SharedGuard&) = delete;
  SharedGuard& operator=(const SharedGuard&) = delete;

 private:
  const StripedSharedMutex& m_;
  size_t stripe_;
};

std::atomic<size_t> next_stripe{0};

}  // namespace

size_t StripedSharedMutex::this_thread_stripe() {
  // Threads take stripes in turn, so the first kStripes threads never share one.
  static thread_local size_t stripe = next_stripe.fetch_add(1, std::memory_order_relaxed) % kStripes;
  return stripe;
}

size_t Symtable::NameHash::operator()(std::string_view name) const {
  uint32_t h = kFnvBasis;
  const char* p = name.data();
  const char* end = p + name.size();
  while (p < end) h = (h ^ static_cast<uint32_t>(next_folded(&p, end))) * kFnvPrime;
  return h;
}

bool Symtable::NameEqual::operator()(std::string_view a, std::string_view b) const {
  const char* p = a.data();
  const char* pe = p + a.size();
  const char* q = b.data();
  const char* qe = q + b.size();
  while (p < pe && q < qe) {
    auto x = static_cast<unsigned char>(*p);
    auto y = static_cast<unsigned char>(*q);
    if ((x | y) < 0x80) {  // both ASCII: one step without decoding
      if (ascii_upper(x) != ascii_upper(y)) return false;
      ++p;
      ++q;
      continue;
    }
    if (next_folded(&p, pe) != next_folded(&q, qe)) return false;
  }
  return p == pe && q == qe;
}

Symtable::Symtable() : next_id_(first_free_symbol_id) {
  QZ_TRACE;
  names_.max_load_factor(1.0f);
  ids_.max_load_factor(1.0f);
  for (const predefined_symbol_st* row = predefined_symbols; row->name != nullptr; ++row) {
    insert_locked(row->name, row->id);
  }
}

Symtable::~Symtable() = default;

void Symtable::insert_locked(std::string_view name, symbol_id_type id) {
  auto [it, inserted] = names_.emplace(std::string(name), id);
  if (!inserted) throw_assert_failed();
  try {
    ids_.emplace(id, String(name.data(), name.size(), Charset::utf8).upper());
  } catch (...) {
    names_.erase(it);
    throw;
  }
}

symbol_id_type Symtable::symbolize_utf8(std::string_view name) {
  QZ_TRACE;
  {
    SharedGuard shared(lock_);
    auto it = names_.find(name);
    if (it != names_.end()) return it->second;
  }
  std::unique_lock<StripedSharedMutex> exclusive(lock_);
  auto it = names_.find(name);  // another thread may have added it meanwhile
  if (it != names_.end()) return it->second;
  symbol_id_type id = next_id_++;  // stays taken even when the insertion below fails
  insert_locked(name, id);
  return id;
}

symbol_id_type Symtable::symbolize(const String& name) {
  QZ_TRACE;
  Utf8Name utf8(name);
  return symbolize_utf8(utf8.view());
}

symbol_id_type Symtable::symbolize(const char* name) {
  QZ_TRACE;
  return symbolize_utf8(std::string_view(name, std::strlen(name)));
}

symbol_id_type Symtable::symbolize(const char* name, size_t size) {
  QZ_TRACE;
  return symbolize_utf8(std::string_view(name, size));
}

bool Symtable::find(const String& name, symbol_id_type* id) const {
  QZ_TRACE;
  Utf8Name utf8(name);
  SharedGuard shared(lock_);
  auto it = names_.find(utf8.view());
  if (it == names_.end()) return false;
  *id = it->second;
  return true;
}

String Symtable::resolve(symbol_id_type id) const {
  QZ_TRACE;
  SharedGuard shared(lock_);
  auto it = ids_.find(id);
  if (it == ids_.end()) throw_assert_failed();
  return it->second;
}

size_t Symtable::size() const {
  QZ_TRACE;
  SharedGuard shared(lock_);
  return names_.size();
}

// --- Symbol ------------------------------------------------------------------------------------

Symbol::Symbol(const String& name_in, Symtable* table_in) : name(name_in), id(0), table(table_in) {
  QZ_TRACE;
  id = table->symbolize(name);
  name.convert(Charset::utf8, CON_NONE, 0);
}

Symbol::Symbol(String* owned_name, Symtable* table_in) : id(0), table(table_in) {
  QZ_TRACE;
  try {
    name = *owned_name;
    id = table->symbolize(name);
    name.convert(Charset::utf8, CON_NONE, 0);
  } catch (...) {
    delete owned_name;
    throw;
  }
  delete owned_name;
}

Symbol::~Symbol() = default;

Symbol* Symbol::from_utf32(const char32_t* chars, size_t n, const Charset* cs, Symtable* table) {
  QZ_TRACE;
  String text(reinterpret_cast<const char*>(chars), n * sizeof(char32_t), Charset::utf32le);
  text.convert(cs, CON_NONE, 0);
  return new Symbol(text, table);
}

Symbol* Symbol::clone() const {
  QZ_TRACE;
  return new Symbol(*this);
}

}  // namespace qzbase
