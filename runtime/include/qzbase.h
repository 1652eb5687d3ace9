// qzbase.h - the public interface of the Qz runtime library (libqzbase0).
//
// Hosts and plug-ins include this header only. Internal headers live beside their sources under
// runtime/<subsystem>/ and are not part of the interface.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <list>
#include <stdexcept>
#include <string>

// What the library exports: everything else it builds with hidden visibility.
#define QZ_EXPORT __attribute__((visibility("default")))

namespace qzbase {

// ---------------------------------------------------------------------------------------------
// Crash handlers
//
// The library's own call trace (QZ_TRACE) is internal: runtime/include/qzbase_internal.h.
// ---------------------------------------------------------------------------------------------


// Crash handlers. The host installs them and stores what was installed before in the "old"
// globals; the library itself installs nothing.
extern "C" {
QZ_EXPORT extern void (*old_sig_SEGV_handler)(int);
QZ_EXPORT extern void (*old_sig_ABRT_handler)(int);
QZ_EXPORT extern void (*old_terminate_handler)();
}
QZ_EXPORT void sig_SEGV_handler(int signal);
QZ_EXPORT void sig_ABRT_handler(int signal);
QZ_EXPORT void terminate_handler();

// ---------------------------------------------------------------------------------------------
// Broken internal invariants
// ---------------------------------------------------------------------------------------------

class QZ_EXPORT assert_failed_exception {};

// The one place that throws assert_failed_exception: every consistency check calls it, and so do
// the inline value operations below.
[[noreturn]] QZ_EXPORT void throw_assert_failed();


// ---------------------------------------------------------------------------------------------
// Character sets
// ---------------------------------------------------------------------------------------------

class Charset;

// 0: write a substitute for what the target cannot represent and go on; other values: stop.
using CstranRecovery = int;
// 0: all input consumed; -1: output full, input remains; 1: stopped (unrepresentable or error).
using CstranError = int;

struct charset_st {
  uint64_t csid;
  const char* name;
  int32_t windows_codepage;
  int32_t xbase_codepage;
  const char* icu_name;
  uint64_t min_bytes;
  uint64_t max_bytes;
  uint64_t bom_length;
  const char* bom;
  const Charset* (*loader)(const charset_st&, bool flagged);
  uint64_t unicode;
};

class QZ_EXPORT Charset {
 public:
  Charset(const charset_st& record, bool flagged);
  virtual ~Charset();
  Charset(const Charset&) = delete;
  Charset& operator=(const Charset&) = delete;

  // Bytes this text needs in target (pivot through UTF-16 by default).
  virtual int calculate(const char* src, const char* end, const Charset* target, size_t* out_bytes,
                        CstranRecovery rec) const;
  virtual int convert(const char** src, const char* end, char** dst, const char* dst_end,
                      const Charset* target, CstranRecovery rec) const;
  // Decodes one character at *p and advances *p; *p must be before end.
  virtual char32_t next(const char** p, const char* end) const = 0;
  virtual void verify(const char* data, size_t size, size_t* valid_bytes, size_t* valid_chars,
                      size_t* invalid_chars, size_t* first_invalid) const;
  virtual CstranError out(const char** src, const char* end, char16_t** dst,
                          const char16_t* dst_end) const;
  virtual CstranError in(const char16_t** src, const char16_t* end, char** dst, const char* dst_end,
                         CstranRecovery rec) const;

  int convert(const char* src, const char* end, char* dst, const char* dst_end, const Charset* target,
              CstranRecovery rec) const;
  size_t count_chars(const char* begin, const char* end) const;
  char32_t peek_next(const char* p, const char* end) const;
  bool scan(const char** p, const char* end) const;
  char32_t prev(const char** p, const char* begin) const;

  const charset_st& record() const { return record_; }
  uint64_t csid() const { return record_.csid; }
  const char* name() const { return record_.name; }
  size_t min_bytes() const { return record_.min_bytes; }
  size_t max_bytes() const { return record_.max_bytes; }
  size_t bom_length() const { return record_.bom_length; }
  const char* bom() const { return record_.bom; }
  bool is_fixed_width() const { return fixed_width_; }
  bool is_flagged() const { return flagged_; }
  bool is_unicode() const { return record_.unicode != 0; }

  static const Charset* ascii;
  static const Charset* binary;  // the flagged binary instance
  static const Charset* utf8;
  static const Charset* utf16le;
  static const Charset* utf32le;

 private:
  charset_st record_;
  bool fixed_width_;
  bool flagged_;
};

QZ_EXPORT const Charset* GetCharsetByCSID(size_t id);
// Throws RuntimeError 1001 for a Windows code page no charset has.
QZ_EXPORT const Charset* GetCharsetByWindowsCodepage(int codepage);
QZ_EXPORT size_t GetCharsetCSID(const Charset* cs);
QZ_EXPORT size_t GetCharsetCPID(const Charset* cs);
using qz_list_charset_callback = void (*)(void* ctx, const char* name);
// Calls cb(ctx, name) once per supported charset name, in table order.
QZ_EXPORT void list_supported_charset(void* ctx, qz_list_charset_callback cb);

// ---------------------------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------------------------

struct string_buffer_st {
  char* bytes;
  size_t capacity;
  std::atomic<size_t> count;
};

// Exceptions of the text layer, thrown by value.
struct QZ_EXPORT cstran_chars_lost {};
struct QZ_EXPORT string_buffer_invalid_exception {
  size_t position;  // 1-based byte position of the first invalid character
};
struct QZ_EXPORT copy_buffer_too_small {};

// Flags of String::convert.
enum ConFlags : int {
  CON_NONE = 0,
  CON_TERMINATE = 1,  // leave a zero terminator of the target's width after the text
  CON_UNSHARE = 2,    // convert even into the same charset when the buffer is shared
  CON_EXACT = 4,      // size the output exactly instead of estimating
};

struct scan_string_st;  // defined in the tokenizer section below
struct const_string_st;
class Collation;

class QZ_EXPORT String {
 public:
  String();
  String(size_t n, const Charset* cs);
  String(const char* bytes, size_t n, const Charset* cs);
  String(const char* text);
  String(const char32_t* text);
  String(const wchar_t* text);
  String(const std::filesystem::path& p);
  String(const String& s, const char* begin, const char* end);
  String(const String& other) noexcept;
  String(String&& other) noexcept;
  String& operator=(const String& other) noexcept;
  String& operator=(String&& other) noexcept;
  ~String();

  static String fromBytes(const char* bytes, size_t n, const Charset* cs);
  static String fromBytes(const char* text, const Charset* cs);
  static String create_from_scan_string(const scan_string_st& s);
  static String create_from_path(const std::filesystem::path& p, const Charset* cs);

  const char* read() const { return data_; }
  const char* end() const { return data_ + size_; }
  size_t size() const { return size_; }
  const Charset* get_charset() const { return charset_; }
  // The shared buffer; exposed for tests and for code that must know whether it may write.
  const string_buffer_st* buffer() const { return buffer_; }

  char* write();
  void resize(size_t n);
  size_t length() const;
  size_t align(size_t n);
  String substr(size_t start, size_t count) const;
  void convert(const Charset* target, int flags, CstranRecovery rec);
  operator std::filesystem::path() const;
  CstranError strcpy(char* dst, size_t dstsize, const Charset* target, CstranRecovery rec) const;
  void add(String other);
  void add(const String* other);

  // --- String operations (runtime/values/string_ops.cpp) ---
  // Positions, lengths and counts are characters of this string's charset; byte
  // offsets are from read(). The trims move the data pointer and the size only (no byte is copied
  // or written; the buffer stays shared).

  // A hit of scan: (s, hit begin, hit end, 0-based character position of the hit, needle index,
  // hit length in characters, ctx). Returning false stops the scan.
  using scan_callback = bool (*)(const String& s, const char* hit_begin, const char* hit_end, size_t char_pos,
                                 size_t needle_index, size_t hit_chars, void* ctx);
  using char_qualifies_callback = bool (*)(char32_t c);
  // Enumerator of trim strings: `first` gives the first, `next` each further one; null ends.
  using enum_first_callback = const String* (*)(void* ctx);
  using enum_next_callback = const String* (*)(void* ctx);

  // Calls cb for each hit, left to right, never overlapping; the first needle (in array order) that
  // matches at a position wins; an empty needle never matches. char_pos runs along (start it at 0).
  // Returns the number of hits passed to cb.
  int scan(const const_string_st* needles, size_t n, size_t& char_pos, scan_callback cb, void* ctx) const;
  // One needle; cb gets needle_index 1.
  int scan(const const_string_st& needle, size_t& char_pos, scan_callback cb, void* ctx) const;
  // Occurrence skip + 1 of needle: true with its character position and byte offsets; false leaves
  // the outputs untouched.
  bool strstr(const String& needle, size_t* char_pos, size_t* byte_begin, size_t* byte_end, size_t skip) const;
  // Every hit of search[i] replaced by replace[i], in this string's charset (recovery 0). A binary
  // side is copied byte for byte.
  String strmultitran(const const_string_st* search, size_t n, const const_string_st* replace) const;
  String strtran(String search, String replace) const;
  // Appends the pieces between the separators to out (slices of this string).
  void explode(const const_string_st* separators, size_t n, bool keep_separator, std::list<String>* out) const;
  // ICU simple case mapping, one code point to one; binary text is mapped byte for byte (ASCII
  // letters only) and keeps its size.
  String upper() const;
  String lower() const;
  // Three-way compare under coll.
  int cmp(const String* other, const Collation* coll) const;
  int cmp(const String& other, const Collation* coll) const;
  // True when the text is empty or holds only white space.
  bool is_empty() const;
  std::string u8str() const;
  std::u16string u16str() const;
  String& rtrim();  // trailing blanks (u_isblank)
  String& ltrim();  // leading blanks
  String& alltrim();
  String& rtrim(char_qualifies_callback pred);
  String& ltrim(char_qualifies_callback pred);
  String& ltrim_classic_space();
  String& ltrim_classic_tab();
  String& ltrim_classic_space_or_tab();
  // rtrim(), then one line end (CR LF, LF CR, CR or LF) at the very end.
  String& rtrim_endl();
  // Removes any of the enumerated strings repeatedly from the end (start), characters compared
  // with coll->compare(char32_t, char32_t).
  String& rtrim(const Collation* coll, enum_first_callback first, enum_next_callback next, void* ctx);
  String& ltrim(const Collation* coll, enum_first_callback first, enum_next_callback next, void* ctx);
  // Removes repeated occurrences of prefix from the start (an empty prefix removes nothing).
  String& ltrim(const String& prefix);
  // First occurrence of c: true with its 0-based character index and byte offsets; false sets
  // *byte_begin and *index to 0.
  bool chrstr(char32_t c, int* index, size_t* byte_begin, size_t* byte_end) const;
  // As chrstr, both sides folded by u_tolower(u_toupper(x)).
  bool christr(char32_t c, int* index, size_t* byte_begin, size_t* byte_end) const;
  // Identifier made from text (non-alphanumerics and a leading non-letter become "_"), at most
  // 255 characters, converted to target; *changed tells whether anything was replaced.
  static String symbolify(String text, bool* changed, const Charset* target);

  // --- end of string operations ---

 private:
  void do_copy_on_write();
  void release() noexcept;

  const char* data_;
  const Charset* charset_;
  string_buffer_st* buffer_;
  size_t size_;
};

class QZ_EXPORT Concat {
 public:
  Concat();
  explicit Concat(const Charset* cs);
  virtual ~Concat();

  void append(const String& piece);
  void append(const Concat& other);
  // Re-estimating (a piece that cannot be converted) updates the charset and the estimate.
  String to_string(bool terminate) const;

  const Charset* charset() const { return charset_; }
  size_t count() const { return count_; }
  size_t estimate() const { return estimate_; }

 protected:
  bool exact_total(const Charset* cs, size_t* total) const;

  mutable const Charset* charset_;
  std::list<String> pieces_;
  size_t count_;
  mutable size_t estimate_;
};

// Binary pieces; only on a Concat in Charset::binary.
QZ_EXPORT Concat& operator<<(Concat& c, uint8_t v);
QZ_EXPORT Concat& operator<<(Concat& c, bool v);
QZ_EXPORT Concat& operator<<(Concat& c, uint32_t v);
QZ_EXPORT Concat& operator<<(Concat& c, uint64_t v);
QZ_EXPORT Concat& operator<<(Concat& c, int64_t v);
QZ_EXPORT Concat& operator<<(Concat& c, const String& v);

class QZ_EXPORT StringBuilder : public Concat {
 public:
  StringBuilder();
  explicit StringBuilder(const Charset* cs);
  ~StringBuilder() override;

  StringBuilder& operator<<(int32_t v);
  StringBuilder& operator<<(const char* text);
  StringBuilder& operator<<(const String& s);
};


// ---------------------------------------------------------------------------------------------
// Errors and interrupts
// ---------------------------------------------------------------------------------------------


enum InterruptType : int { INTERRUPT_ERROR = 0, INTERRUPT_QUIT = 1, INTERRUPT_THROW = 2 };

class QZ_EXPORT RuntimeInterrupt {
 public:
  explicit RuntimeInterrupt(InterruptType type) : type(type) {}
  virtual ~RuntimeInterrupt();
  InterruptType type;
};

// Caught as RuntimeError, never as RuntimeInterrupt.
class QZ_EXPORT RuntimeError : RuntimeInterrupt {
 public:
  RuntimeError();
  explicit RuntimeError(int code);
  RuntimeError(int code, String detail);
  RuntimeError(const RuntimeError& other);
  RuntimeError& operator=(const RuntimeError& other);
  ~RuntimeError() override;

  InterruptType interrupt_type() const { return type; }

  int code;
  String message;
  String detail;
  bool handled;  // set on the copy kept as a stack's last error once offered to handlers
};

enum QuitKind : int { QUIT_QUIT = 0, QUIT_CANCEL = 1 };

class QZ_EXPORT RuntimeQuit : public RuntimeInterrupt {
 public:
  explicit RuntimeQuit(QuitKind kind = QUIT_QUIT) : RuntimeInterrupt(INTERRUPT_QUIT), kind(kind) {}
  ~RuntimeQuit() override;
  QuitKind kind;
};

class VmStack;

// Exported host functions; all return 0 unless said otherwise.
QZ_EXPORT int GetLastError(VmStack* stack);
QZ_EXPORT int GetLastErrorMessage(VmStack* stack, char* buffer, size_t size);
QZ_EXPORT int TranslateError(int code, char* buffer, size_t size);
QZ_EXPORT int TranslateErrorEx(int code, const String& detail, char* buffer, size_t size);

// --- Collations (runtime/values/collation*.cpp) ---
//
// A Collation orders text. Only the two unicode kinds compare characters
// (Collation::unicode_machine: code-point order; Collation::unicode_machine_ci: code-point order
// of u_toupper); the code-page kinds build fixed-length index keys and hash, and throw
// collation_not_impl when asked to compare. String comparison in the language always uses the
// unicode kinds, never the session's collation: keep compare and create_char_key
// apart.

// Thrown by an operation that a collation kind does not implement, and by create_char_key when
// the text cannot be converted into the collation's charset.
class QZ_EXPORT collation_not_impl {};

// Collation groups (the index layer's collation names).
enum CollationGroup : uint32_t {
  COLLATION_GROUP_UNICODE = 0,
  COLLATION_GROUP_MACHINE = 1,
  COLLATION_GROUP_GENERAL = 2,
  COLLATION_GROUP_GREEK = 3,
  COLLATION_GROUP_GERMAN = 4,
  COLLATION_GROUP_POLISH = 5,
  COLLATION_GROUP_TURKISH = 6,
  COLLATION_GROUP_ICELAND = 7,
  COLLATION_GROUP_NORDAN = 8,
  COLLATION_GROUP_SWEFIN = 9,
  COLLATION_GROUP_RUSSIAN = 10,
  COLLATION_GROUP_THAI = 11,
  COLLATION_GROUP_CZECH = 12,
  COLLATION_GROUP_SLOVAK = 13,
  COLLATION_GROUP_HUNGARY = 14,
  COLLATION_GROUP_SPANISH = 15,
  COLLATION_GROUP_DUTCH = 16,
};

// The table row a collation is made from (values/collation.h).
struct collation_st;

class QZ_EXPORT Collation {
 public:
  Collation(const collation_st* record, const Charset* charset, char pad, size_t width_factor);
  virtual ~Collation();
  Collation(const Collation&) = delete;
  Collation& operator=(const Collation&) = delete;

  // Three-way comparison of two code points (-1, 0, 1). Base: throws collation_not_impl.
  virtual int compare(char32_t a, char32_t b) const;
  // 32-bit FNV-1a over the code points of [begin, end) decoded with cs.
  virtual unsigned int hash(const char* begin, const char* end, const Charset* cs) const;
  // Sort key of len bytes of text in the collation's charset; returns the key's length (at most
  // keylen). Base: throws collation_not_impl.
  virtual size_t create_char_key(const char* src, size_t len, bool pad, char* key, size_t keylen) const;

  // Two strings, each decoded by its own charset (both by Charset::binary when either is binary),
  // compared character by character with compare(char32_t, char32_t); -1, 0 or 1.
  // Plain: a proper prefix orders first.
  int compare(const char* left, const char* left_end, const Charset* left_cs, const char* right,
              const char* right_end, const Charset* right_cs) const;
  // SET EXACT ON: trailing blanks (u_isblank; NUL for binary text) of the longer side are ignored.
  int compare_exact_on(const char* left, const char* left_end, const Charset* left_cs, const char* right,
                       const char* right_end, const Charset* right_cs) const;
  // SET EXACT OFF: equal as soon as the right side is exhausted with all its characters matched.
  int compare_exact_off(const char* left, const char* left_end, const Charset* left_cs, const char* right,
                        const char* right_end, const Charset* right_cs) const;
  // Key of a String in any charset: converted into the collation's charset first (at most 256
  // bytes) unless it is in that charset or binary; a character that charset lacks throws
  // collation_not_impl.
  size_t create_char_key(const String& text, bool pad, char* key, size_t keylen) const;

  const collation_st* record() const { return record_; }
  // The record's fields, copied by the constructor.
  uint64_t colid() const { return colid_; }
  const char* name() const { return name_; }
  uint32_t codepage() const { return codepage_; }
  uint32_t group() const { return group_; }
  // The code page's charset; null for the two unicode kinds.
  const Charset* charset() const { return charset_; }
  // The byte that fills padded keys: 32 (unicode and machine kinds), 0 (mapped), 0xFF (debug).
  char pad() const { return pad_; }
  // Key bytes per character: 2 for the mapped kind (primary and secondary part), else 1.
  size_t width_factor() const { return width_factor_; }

  // COLID 1 and 1002; set by __init_collations.
  static Collation* unicode_machine;
  static Collation* unicode_machine_ci;

 private:
  const collation_st* record_;
  uint64_t colid_;
  const char* name_;
  uint32_t codepage_;
  uint32_t group_;
  const Charset* charset_;
  char pad_;
  size_t width_factor_;
};

// The collation of a COLID, made on first use and cached until __cleanup_collations; null for an
// unknown COLID. Thread-safe.
QZ_EXPORT Collation* GetCollationByCOLID(int colid);
// The first record (table order) with this table-file code page and group; null when none.
QZ_EXPORT Collation* GetCollationFromGroup(int codepage, int group);

// Types of the String operations above.
struct const_string_st {
  const char* begin;
  const char* end;
  const Charset* charset;
};
using string_scan_callback = String::scan_callback;
using string_char_qulifies_callback = String::char_qualifies_callback;
using enum_string_first = String::enum_first_callback;
using enum_string_next = String::enum_next_callback;

// --- end of collations ---

// --- Values: Variant, arrays, object handles, exported value interface ---
//
// Variant, Array, object pointers and the exported value
// interface. A Variant is one tag byte followed by a 32-byte payload union (40 bytes in all, so
// a stack slot of a Variant and its one-byte declaration flag fits in 48 bytes). Tags 0 to 7 are
// plain data; tags 10 to 13 own resources and are copied and released through the per-tag member
// tables. Every setter writes into an empty Variant (tag 0) only.

class Object;
class Variant;
class Array;
struct VmFrame;

// The id of a name in the runtime's symbol table.
using symbol_id_type = uint32_t;

// Variant tags. 8, 9 and anything above 13 never occur.
enum VarTag : uint8_t {
  VT_FALSE = 0,  // also the empty (released) state
  VT_NULL = 1,
  VT_TRUE = 2,
  VT_INTEGER = 3,
  VT_NUMERIC = 4,
  VT_MONEY = 5,
  VT_DATE = 6,
  VT_DATETIME = 7,
  VT_STRING = 10,
  VT_OBJECT = 11,
  VT_ARRAY = 12,
  VT_REFERENCE = 13,
};

// The raw money value (amount x 10000). Held at 8-byte alignment so the payload stays 32 bytes
// with no padding in front of it.
typedef __int128 money_raw_type __attribute__((aligned(8)));

struct integer_type_st {
  int64_t value;
};

// decimals all ones: the number has no fixed count of decimals.
inline constexpr uint64_t free_decimals = ~static_cast<uint64_t>(0);

struct numeric_type_st {
  double value;
  uint64_t decimals;
};

struct money_type_st {
  money_raw_type value;
};

struct date_st {
  uint32_t day;  // Julian day number; 0 is the empty date
};

struct datetime_st {
  uint32_t day;  // Julian day number; 0 is empty
  int32_t ms;    // milliseconds since midnight, 0 .. 86399999
};

using string_type_st = String;

// The control block shared by every Variant and object_ptr that refers to one object.
struct object_control_st {
  std::atomic<uint64_t> refs;    // control-block references; the block is freed at 0
  std::atomic<uint64_t> strong;  // references that keep the object alive
  std::atomic<uint8_t> destroying;
  std::atomic<uint8_t> destroyed;
};

// The tag-11 payload and the layout of object_ptr: control block, then the object.
struct object_ptr_st {
  object_control_st* control;
  Object* object;
};

// Non-template half of object_ptr: the count operations shared with Variant.
class QZ_EXPORT object_ptr_base : public object_ptr_st {
 public:
  object_ptr_base() noexcept : object_ptr_st{nullptr, nullptr} {}

  // Raises the strong count by compare-and-swap unless it is 0 (a dead object is never
  // revived). Returns the count seen before.
  static uint64_t increment_strong(object_control_st* control);
  // Drops one strong reference; the last one runs DESTROY (when a stack is given), `destroy`
  // down the chain, and deletes the object. Returns the count seen before (0: already dead).
  static uint64_t release_strong(object_ptr_st* ptr, VmStack* stack);
  // Drops one control reference and frees the block at 0.
  static void release_control(object_control_st* control) noexcept;

  // The handle must be empty; binds it to obj, making obj's control block when it has none.
  void attach(Object* obj);
  // The handle must be empty; shares src's object and control block.
  void copy_from(const object_ptr_st& src);
  // One more strong (unless the object is dead) and control reference on a non-empty handle.
  void add_ref();
  // Empties the handle; the last strong reference destroys the object on the given stack (a null
  // stack does not run DESTROY).
  void release(VmStack* stack);
  // Null for an empty handle; the object while it lives; broken invariant once it is destroyed.
  Object* get_object() const;
  bool empty() const { return control == nullptr; }
};

// The owning handle to an object of class T (a class derived from Object). The destructor
// releases without a stack.
template <class T = Object>
class object_ptr : public object_ptr_base {
 public:
  object_ptr() noexcept = default;
  explicit object_ptr(T* obj) { attach(obj); }
  object_ptr(const object_ptr& other) : object_ptr_base() { copy_from(other); }
  object_ptr(object_ptr&& other) noexcept : object_ptr_base() {
    control = other.control;
    object = other.object;
    other.control = nullptr;
    other.object = nullptr;
  }
  object_ptr& operator=(const object_ptr& other) {
    if (this != &other) {
      object_ptr copy(other);
      release(nullptr);
      *this = static_cast<object_ptr&&>(copy);
    }
    return *this;
  }
  object_ptr& operator=(object_ptr&& other) noexcept {
    object_control_st* c = control;
    Object* o = object;
    control = other.control;
    object = other.object;
    other.control = c;
    other.object = o;
    return *this;
  }
  ~object_ptr() { release(nullptr); }

  T* get() const { return static_cast<T*>(get_object()); }
  T* operator->() const { return get(); }
};

using ObjectPointer = object_ptr<Object>;

// The element block of an array. items are allocated zero-filled (every element starts empty);
// refcount is plain: a block belongs to one thread at a time.
struct array_block_st {
  Variant* items;
  size_t n;
  size_t refcount;
};

// A one- or two-dimensional, 1-based array of Variants (the tag-12 payload). Copies share the
// block; the block is copied on the first write after a share. An Array must be ended through
// release(); its destructor only checks that this happened.
class QZ_EXPORT Array {
 public:
  explicit Array(size_t n);                  // one-dimensional; RuntimeError 230 when too large
  Array(size_t rows, size_t cols);           // rows x cols; RuntimeError 230 when too large
  Array(const Array& other) noexcept;        // shares the block
  Array& operator=(const Array&) = delete;
  ~Array() noexcept(false);                  // the block must already be released

  size_t count() const { return count_; }
  size_t columns() const { return columns_; }
  size_t rows() const { return columns_ ? count_ / columns_ : count_; }
  const array_block_st* block() const { return block_; }

  // Read side. Element numbers are 1-based.
  const Variant* read(size_t n) const;
  const Variant* read(size_t row, size_t col) const;
  size_t element_number(size_t row, size_t col) const;
  size_t check_row(size_t n) const;
  size_t asubscript_row(size_t n) const;
  size_t asubscript_column(size_t n) const;

  // Write side.
  void shm_cow_on_demand(VmStack* stack);
  Variant* write(VmStack* stack, size_t n);
  // RuntimeError 11 for row 0; 1234 when a two-dimensional array's column exceeds its columns.
  Variant* write(VmStack* stack, size_t row, size_t col);

  // Drops this array's share of the block (releasing the elements with the stack when it was the
  // last); the block pointer becomes null.
  void release(VmStack* stack);

 private:
  friend class Variant;
  Array() noexcept : block_(nullptr), count_(0), columns_(0) {}

  array_block_st* block_;
  size_t count_;
  size_t columns_;  // 0 for a one-dimensional array
};

using array_type_st = Array;

// The tag-13 payload: the referenced value and, when it is a property, the object that owns it
// (owner.control null otherwise). A reference holds one strong and one control reference on it.
struct reference_st {
  Variant* target;
  object_ptr_st owner;
};

class QZ_EXPORT Variant {
 public:
  Variant() noexcept : tag(VT_FALSE), raw_{0, 0, 0, 0} {}
  Variant(const Variant& other) : tag(VT_FALSE), raw_{0, 0, 0, 0} { other.copy(this); }
  // Moves the payload; the source is left empty.
  Variant(Variant&& other) noexcept : tag(other.tag) {
    for (int i = 0; i < 4; ++i) raw_[i] = other.raw_[i];
    other.tag = VT_FALSE;
  }
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  // Releases an owned payload without a stack (no DESTROY runs).
  ~Variant() noexcept {
    if (tag >= VT_STRING) release_heap(nullptr);
  }

  // --- lifecycle ---

  // Releases an owned payload (tags 10 to 13) with the stack, on which an object's DESTROY runs
  // (null: DESTROY does not run), and leaves the Variant empty, also when the release throws.
  void release(VmStack* stack) {
    if (tag >= 8) {  // 8 and 9 reach the broken-invariant check
      release_heap(stack);
    } else {
      tag = VT_FALSE;
    }
  }
  // Copies this value into the empty dst; a reference yields a copy of the referenced value.
  void copy(Variant* dst) const;
  // Copies src into this empty Variant.
  void set_variant(const Variant* src) { src->copy(this); }

  bool empty() const { return tag == VT_FALSE; }

  // Per-tag member tables, indexed by tag (entries without an operation are null). The release
  // and acquire tables are consulted only for tags 10 and above.
  using release_fn = void (Variant::*)(VmStack*);
  using acquire_fn = void (Variant::*)();
  using val_fn = void (Variant::*)(Variant*) const;
  static const release_fn release_functions[16];
  static const acquire_fn acquire_functions[16];
  static const val_fn val_functions[16];

  // Release functions: free this payload in place; the caller sets the tag to 0.
  void release_C(VmStack* stack);
  void release_O(VmStack* stack);
  void release_A(VmStack* stack);
  void release_P(VmStack* stack);
  // Acquire functions: this Variant holds a bitwise copy of the payload; take its references.
  void acquire_C();
  void acquire_O();
  void acquire_A();
  void acquire_P();
  // Value functions: write this value into the empty dst.
  void val_L_false(Variant* dst) const;
  void val_X(Variant* dst) const;
  void val_L_true(Variant* dst) const;
  void val_I(Variant* dst) const;
  void val_N(Variant* dst) const;
  void val_Y(Variant* dst) const;
  void val_D(Variant* dst) const;
  void val_T(Variant* dst) const;
  void val_C(Variant* dst) const;
  void val_O(Variant* dst) const;
  void val_A(Variant* dst) const;
  void val_P(Variant* dst) const;

  // --- setters; each requires an empty Variant (broken invariant otherwise) ---

  void set(const numeric_type_st& v);
  void set_float(double value, unsigned long decimals);
  void set(const integer_type_st& v);
  void set_integer(short v);
  void set_integer(int v);
  void set_integer(unsigned int v);
  void set_integer(const long& v);
  void set_integer(const unsigned long& v);
  void set(const money_type_st& v);
  void set(const date_st& v);
  void set(const datetime_st& v);
  void set(const string_type_st& v);
  void set_string(const String& v);
  void set(const array_type_st& v);
  void set_array(const Array& v);
  void set_null();
  void set_true();
  void set_false();
  void set_bool(bool v);

  // --- objects ---

  // Shares the object of a handle or payload (a null control gives an empty object reference).
  void set(const object_ptr_st& v);
  // Binds an object that already has a control block.
  void set(Object* obj);
  // Binds an object that has no control block yet, making one {refs 1, strong 1}.
  void set_new_object(Object* obj);
  // The object of a tag-11 value. RuntimeError 1924 for any other tag and for an empty object
  // reference (no control block, or the object already destroyed).
  operator Object*() const;
  void val_object(Object** out) const;
  // An empty object reference: a tag-11 value without a live object (no control block, or a
  // strong count of 0). vartype() answers "X" for it and member access raises 1924.
  bool is_empty_object_reference() const;

  // --- references ---

  // Makes dst (released first with the stack) a reference to this value; a reference is
  // followed one level. owner, when not null, is the object whose property this value is.
  void ref(VmStack* stack, Variant* dst, Object* owner) const;

  // --- inspection ---

  // The type letter: L X N Y D T C Q O A; a reference answers its target's letter; a tag-11
  // value without a live object answers X.
  String vartype() const;
  // The EMPTY() test; RuntimeError 11 for a reference.
  bool is_empty() const;

  // --- arrays ---

  operator Array*();              // RuntimeError 232 unless tag 12
  operator const Array*() const;  // RuntimeError 232 unless tag 12
  // Makes this value (or a reference's target) an array of rows x cols (cols 0: one-dimensional),
  // carrying elements over by position. RuntimeError 230 when the size overflows or cannot be
  // allocated; the value is then unchanged.
  Array* dimension(VmStack* stack, size_t rows, size_t cols);
  // Assigns value: an array receives it in every element; a reference stores into its target.
  void store_recursive(VmStack* stack, const Variant* value);

  // --- checked conversions used by the exported interface ---

  explicit operator bool() const;    // false or true only; else 107
  operator integer_type_st() const;  // integer; numeric truncated; money / 10000; else 107
  operator int() const;              // low 32 bits of operator integer_type_st
  operator long() const;             // operator integer_type_st
  operator String() const;           // string only (a shared copy); else 107

  // --- data ---

  uint8_t tag;
  union {
    integer_type_st integer;
    numeric_type_st numeric;
    money_type_st money;
    date_st date;
    datetime_st datetime;
    String string;
    object_ptr_st object;
    Array array;
    reference_st reference;
    uint64_t raw_[4];
  };

 private:
  void release_heap(VmStack* stack);
  void acquire_heap();
};

static_assert(sizeof(Variant) == 40, "a Variant is a tag and a 32-byte payload");

// Always inline: a copy the compiler left out of line in the library would be exported with the
// class.
__attribute__((always_inline)) inline void Variant::copy(Variant* dst) const {
  if (dst->tag != VT_FALSE) throw_assert_failed();
  dst->raw_[0] = raw_[0];
  dst->raw_[1] = raw_[1];
  dst->raw_[2] = raw_[2];
  dst->raw_[3] = raw_[3];
  dst->tag = tag;
  if (tag >= 8) dst->acquire_heap();  // 8 and 9 reach the broken-invariant check
}

// Throws RuntimeError(code): the out-of-line cold path of the inline value operations.
[[noreturn]] QZ_EXPORT void throw_variant_error(int code);

inline const Variant* Array::read(size_t n) const {
  if (n - 1 >= count_) throw_variant_error(1234);
  return block_->items + (n - 1);
}

// Exported value functions for plug-ins. None catches anything: RuntimeError and
// assert_failed_exception reach the caller. Setters require an empty Variant; call ReleaseVar
// first to overwrite a value.
QZ_EXPORT void VarSetVariant(Variant* dst, const Variant* src);
QZ_EXPORT void VarSetTrue(Variant* v);
QZ_EXPORT void VarSetFalse(Variant* v);
QZ_EXPORT void VarSetBool(Variant* v, bool value);
QZ_EXPORT void VarSetNull(Variant* v);
QZ_EXPORT void VarSetInt(Variant* v, int value);
QZ_EXPORT void VarSetDouble(Variant* v, double value);
QZ_EXPORT void VarSetString(Variant* v, const String& value);
QZ_EXPORT void VarSetUtf8(Variant* v, const char* text);
QZ_EXPORT void VarSetUtf8Len(Variant* v, const char* bytes, size_t size);
QZ_EXPORT int VarGetInt(const Variant* v);
QZ_EXPORT int32_t VarGetInt32(const Variant* v);
QZ_EXPORT int64_t VarGetInt64(const Variant* v);
QZ_EXPORT String VarGetString(const Variant* v);
QZ_EXPORT const char* VarReadString(const Variant* v, size_t* size);
QZ_EXPORT char* VarWriteString(Variant* v, size_t* size);
QZ_EXPORT void ReleaseVar(VmStack* stack, Variant* v);
QZ_EXPORT const Variant* ReadArrayItem(VmStack* stack, const Array* array, size_t n);
QZ_EXPORT const Variant* ReadArrayItem(const Array* array, size_t row, size_t col);
QZ_EXPORT Variant* WriteArrayItem(VmStack* stack, Array* array, size_t row, size_t col);
QZ_EXPORT Array* VarDimArray(VmStack* stack, Variant* v, size_t rows);
QZ_EXPORT Array* VarDimArray(VmStack* stack, Variant* v, size_t rows, size_t cols);
QZ_EXPORT const Array* VarGetArray(const Variant* v);
QZ_EXPORT Array* VarGetArray(Variant* v);
QZ_EXPORT size_t ArrayNumElements(const Array* array);
QZ_EXPORT size_t ArrayNumRows(const Array* array);
QZ_EXPORT size_t ArrayNumColumns(const Array* array);

// The interrupt that holds a Variant.

// A THROW or a caught error on its way to an outer frame's handler (kind 2). Caught as
// RuntimeThrow, never as RuntimeInterrupt.
class QZ_EXPORT RuntimeThrow : RuntimeInterrupt {
 public:
  RuntimeThrow();
  RuntimeThrow(const Variant& value, VmFrame* target_frame, symbol_id_type catch_symbol,
               size_t target_position);
  RuntimeThrow(const RuntimeThrow& other);
  RuntimeThrow& operator=(const RuntimeThrow& other);
  ~RuntimeThrow() override;  // releases the value

  InterruptType interrupt_type() const { return type; }

  Variant value;                // the thrown value
  VmFrame* target_frame;        // the frame whose handler takes it
  symbol_id_type catch_symbol;  // the CATCH TO variable, 0 for none
  size_t target_position;       // where the handler's clause starts in that frame
};


// --- end of values ---

// --- Tokenizer, checksums and digests, float-to-text ---

}  // namespace qzbase

#include <vector>

namespace qzbase {

// A range of a source text. Lines and columns count from 1, columns count
// characters (code points) from the start of the line; char and byte offsets count from 0 from the
// start of the text. The end fields describe the position just past the range (exclusive).
struct document_location_st {
  uint32_t begin_char;
  uint32_t begin_byte;
  uint32_t begin_line;
  uint32_t begin_column;
  uint32_t end_char;
  uint32_t end_byte;
  uint32_t end_line;
  uint32_t end_column;
};

// A span of text in a charset (begin, end, charset, byte size = end - begin). Forward-declared
// above for String::create_from_scan_string.
struct scan_string_st {
  const char* begin;
  const char* end;
  const Charset* charset;
  size_t size;
};


// Digests of raw bytes: 0 and the digest at the start of out, or -1 when outsize is
// below the digest length (20 for SHA-1, 32 for SHA-256); then nothing is written.
QZ_EXPORT int HashSHA1(const unsigned char* data, size_t length, unsigned char* out, size_t outsize);
QZ_EXPORT int HashSHA256(const unsigned char* data, size_t length, unsigned char* out, size_t outsize);

}  // namespace qzbase



// Zeroes the n lowest decimal digits of *value (exported under its plain name).
extern "C" QZ_EXPORT void trunc_insignificant_digits(uint32_t* value, size_t n);

namespace qzbase {

// --- end of tokenizer, checksums and float-to-text ---

// --- Runtime host: screen, runtime, file handles ---
//
// The Runtime object's data and host data, date and time display formats, text file handles
// (internal: runtime/host/file_handle.h) and the Screen. Internal, beside their sources: files
// (runtime/host/file.h), processes (runtime/host/process.h), paths (runtime/host/paths.h), the
// module caches (runtime/host/module_cache.h).

class Module;
class Runtime;
struct ScreenPrivate;

// The SET DATE styles.
enum DateTimeFormat : uint32_t {
  DATE_AMERICAN = 0,
  DATE_ANSI = 1,
  DATE_BRITISH = 2,
  DATE_DMY = 3,
  DATE_FRENCH = 4,
  DATE_GERMAN = 5,
  DATE_ITALIAN = 6,
  DATE_JAPAN = 7,
  DATE_LONG = 8,
  DATE_MDY = 9,
  DATE_SHORT = 10,
  DATE_TAIWAN = 11,
  DATE_USA = 12,
  DATE_YMD = 13,
};

// What a host screen shows in its header; nothing in the library calls header() with a value.
enum ScrHeaderTypes : int { SCR_HEADER_NONE = 0 };

// Message-box buttons (bits of msgbox's `buttons`; msgbox answers with one of them, or -1).
enum MsgboxButton : int {
  MSGBOX_OK = 1,
  MSGBOX_YES = 2,
  MSGBOX_NO = 4,
  MSGBOX_CANCEL = 8,
  MSGBOX_ABORT = 16,
  MSGBOX_RETRY = 32,
  MSGBOX_IGNORE = 64,
};

// The console of all program output, error output, console input, message boxes and module-load
// notices. One Screen is shared by every language thread: out, outendl, err,
// errendl and the buffer operations take an internal lock (a recursive mutex, so an overriding
// internal_out may call back into the Screen), so concurrent writers never corrupt the buffer
// and never split one outendl. The output mutex of lock_for_output is a separate, coarser lock
// for writers that must keep several writes together (ScreenOutputLock).
class QZ_EXPORT Screen {
 public:
  Screen();
  virtual ~Screen();  // frees a pending output buffer without writing it
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  // Console input of count characters; returns the bytes stored (at most size). Base: 0.
  virtual size_t read(char* buffer, size_t size, size_t count, const Charset** charset);
  virtual void errendl();  // err("\n")
  virtual void set_output_charset(const Charset* cs);
  virtual void set_input_charset(const Charset* cs);
  // Base: default_button. The fifth argument is passed as 0 and not used.
  virtual int msgbox(const String& title, const String& text, int buttons, int default_button, int unused);
  virtual void clear();
  virtual void header(ScrHeaderTypes type, const String& text, bool flag);
  virtual void on_load_module(VmStack* stack, const String& file);
  virtual void modify_command(VmStack* stack, const String& text);  // base: RuntimeError 1001
  virtual void browse(VmStack* stack);                              // base: RuntimeError 1001
  virtual void wait(VmStack* stack);                                // base: RuntimeError 1001
  virtual void flush();
  virtual void internal_out(const String& text) = 0;
  virtual void internal_err(const String& text) = 0;

  void out(const String& text);      // buffered while ob_start is on, else internal_out
  void outendl(const String& text);  // text and "\n", kept together
  void outendl();
  void err(const String& text);      // never buffered
  void errendl(const String& text);  // text and "\n", kept together

  void ob_start();               // one level: a nested start joins the outer capture
  void ob_get(String* out);      // the captured text (empty when not buffering)
  void ob_end_flush();           // writes the capture with internal_out and stops buffering
  void ob_end_clean();           // drops the capture and stops buffering
  bool ob_active() const;

  // The output mutex (POSIX). A failing lock throws std::system_error; unlock_output flushes
  // first.
  void lock_for_output();
  void unlock_output();

  void set_interactive(bool value);
  bool is_interactive() const;

 private:
  ScreenPrivate* priv_;
};

class QZ_EXPORT ScreenOutputLock {
 public:
  explicit ScreenOutputLock(Screen* screen) : screen_(screen) { screen_->lock_for_output(); }
  ~ScreenOutputLock() { screen_->unlock_output(); }
  ScreenOutputLock(const ScreenOutputLock&) = delete;
  ScreenOutputLock& operator=(const ScreenOutputLock&) = delete;

 private:
  Screen* screen_;
};

// Discards all output; the compiler installs one per thread while it runs code at compile time.
class QZ_EXPORT NullScreen : public Screen {
 public:
  NullScreen();
  ~NullScreen() override;
  void internal_out(const String& text) override;
  void internal_err(const String& text) override;
};

// Standard output, standard error and standard input, converting to and from the console's
// charsets (both UTF-8 at construction). Binary text is shown as "0h" and upper-case hex.
class QZ_EXPORT ConsoleScreen : public Screen {
 public:
  ConsoleScreen();
  ~ConsoleScreen() override;

  size_t read(char* buffer, size_t size, size_t count, const Charset** charset) override;
  void set_output_charset(const Charset* cs) override;
  void set_input_charset(const Charset* cs) override;
  int msgbox(const String& title, const String& text, int buttons, int default_button, int unused) override;
  void clear() override;
  void flush() override;
  void internal_out(const String& text) override;
  void internal_err(const String& text) override;

  const Charset* output_charset() const { return output_charset_; }
  const Charset* input_charset() const { return input_charset_; }

 private:
  const Charset* output_charset_;
  const Charset* input_charset_;
};

// Exported host functions of the screen.
QZ_EXPORT Screen* CreateScreen(int flags);  // a ConsoleScreen; interactive when flags has 0x100
QZ_EXPORT void ReleaseScreen(Screen* screen);
QZ_EXPORT int SetOutputCharset(Screen* screen, const char* name);  // 0, or 1 when no charset has the name
QZ_EXPORT int SetInputCharset(Screen* screen, const char* name);
QZ_EXPORT void PrintScreenUtf8(Screen* screen, const char* text);

// The embedding object: what every thread of execution of one program shares. Hosts make it
// with CreateRuntime, hand it their arguments, environment and module file through the members
// below, and free it with ReleaseRuntime; they never construct, copy or look inside it. The
// library's own build sees the whole class (qzbase_runtime.h) instead of this view.
#ifndef QZ_INTERNAL_BUILD
class Runtime {
 public:
  Runtime() = delete;
  ~Runtime() = delete;
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  // Keeps argc UTF-8 copies of the arguments (replacing, and freeing, an earlier set). A negative
  // argc throws std::bad_array_new_length.
  QZ_EXPORT void pass_arguments(int argc, const char* const* argv);
  QZ_EXPORT void pass_arguments(int argc, const wchar_t* const* argv);
  // Replaces the environment copy: each "NAME=value" entry is split at its first "="; the first
  // entry of a name wins; an entry without "=" is skipped; null only empties the copy. The
  // process environment is never read: this copy is the only environment the runtime has.
  QZ_EXPORT void pass_environment(const char* const* envp);
  QZ_EXPORT void pass_environment(const wchar_t* const* envp);
  // The host's own executable: plug-ins are looked for beside it.
  QZ_EXPORT void set_module_file_name(const char* name);
  QZ_EXPORT void set_module_file_name(const wchar_t* name);
};
#endif

// Exported program search (runtime/host/program_search.cpp): Runtime::find_file on the name; the
// found path goes to found as a UTF-8 String.
QZ_EXPORT bool FindFile(Runtime* runtime, const String& name, String& found, bool stem_ci, bool extension_ci);
// The whole file as one String (runtime/builtins/file_text.cpp). The bytes are kept unchanged and
// tagged with charset (null: UTF-8). With detect, a charset ICU detects with confidence replaces
// it; without, a UTF charset becomes its "-bom" twin when the file starts with the twin's mark.
// A charset with a mark requires it (RuntimeError 9016) and the mark is cut off. Open and read
// failures: 1102 (no such file or directory), 1705 (permission), else 1, with the path as detail.
QZ_EXPORT String FileToString(const String& path, const Charset* charset, bool detect);
// Bits of StrToFile's mode.
enum StrToFileMode : int {
  STRTOFILE_APPEND = 1,          // append instead of replacing
  STRTOFILE_UTF16LE_MARK = 2,    // the file is UTF-16LE with its mark FF FE
  STRTOFILE_UTF8_MARK = 4,       // the file is UTF-8 with its mark EF BB BF
};
// Writes text to the file at path (runtime/builtins/file_text.cpp) and returns the bytes written.
// Without a mode bit of 2 or 4 the text's bytes go unchanged, after the text's own mark when its
// character set has one (a "-bom" set) and the file is not appended to. Mode 2 converts the text
// to UTF-16LE and mode 4 to UTF-8, each after its mark unless appending (a text in a "-bom" set
// keeps its own encoding and mark). 2 with 4: RuntimeError 11. Open and write failures: 1102 (no
// such file or directory), 1705 (permission), else 1, with the path as detail.
QZ_EXPORT size_t StrToFile(const String& text, const String& path, int mode);

// Exported host-data functions (runtime/host/host_data.cpp).
// A null-terminated array of argc separately allocated UTF-8 copies of the wide arguments;
// returns 0. Free it with FreeArgsW.
QZ_EXPORT int AllocArgsW(const wchar_t* const* argv, int argc, char*** out);
// Frees each string up to the null entry, then the array; null does nothing; returns 0.
QZ_EXPORT int FreeArgsW(char** block);
QZ_EXPORT void SetRuntimeAsserts(Runtime* runtime, bool value);
// The display name of a field type code for DISPLAY STRUCTURE (1 "Blob" ... 14 "Varchar");
// "?" for any other code.
QZ_EXPORT const char* field_type_name(uint8_t code);

// Syntax colouring for editors (runtime/host/syntax_entry_points.cpp). One classified range:
// class 1 keyword, 2 operator, 3 constant, 4 comment, 5 built-in function or directive head,
// 6 macro reference, 7 inactive text.
struct syntax_info_st {
  uint32_t syntax_class;
  document_location_st location;
};
// The two locations of one build message: where it is, and the context before it.
struct error_location_st {
  document_location_st location;
  document_location_st context_location;
};
// Classifies the size bytes of text in charset cs. On success returns 0, stores a handle for
// SyntaxFetchClassifications and the numbers of classifications, split macro lines (locations)
// and build messages (errors). A null argument (text may be null when size is 0) returns 11 and
// sets nothing.
QZ_EXPORT int SyntaxClassifyString(Runtime* runtime, const char* text, size_t size, const Charset* cs, long* handle,
                         unsigned* classifications, unsigned* locations, unsigned* errors);
// Copies the three lists of a handle, in order, into arrays sized from the counts, frees the
// result and returns 0; the handle is invalid afterwards. An unknown handle, or a null array for
// a list that is not empty, returns 11 and changes nothing (the handle stays valid).
QZ_EXPORT int SyntaxFetchClassifications(long handle, syntax_info_st* classifications, document_location_st* locations,
                               error_location_st* errors);

// --- end of runtime host ---

// --- Virtual machine ---
//
// The stack machine's public names: what plug-ins and hosts need to name (the stack, the symbol
// table and compiled programs stay opaque here; their internal headers are runtime/vm/*.h).

class Symtable;
class Program;
class Module;
class UserFunction;
class DataSession_Object;

// The number of a local slot of a call frame: offset k is the slot k places below the frame's
// argument top (1 .. n are the parameters in push order, larger offsets the LOCAL variables).
using offset_type = uint64_t;

// The compiler's static type record of an operand or of a compiled expression. A Program carries
// one unchanged; a program read from a compiled-module file gets {0, false, -1}.
struct compiler_type_info_st {
  uint32_t type = 0;       // static type code; bit 16: the value may be null
  bool constant = false;   // the value is known at compile time
  int64_t width = -1;      // string length when known; -1 unknown; -2 memo or blob
};

// A built-in function: reads its nargs arguments with Param/Pointer and writes its result into
// the empty result Variant; leaves the stack pointer where it found it.
using native_function_type = void (*)(VmStack* stack, size_t nargs, Variant* result);
// A built-in command: the same without a result.
using native_command_type = void (*)(VmStack* stack, size_t nargs);
// Argument n (1 = first) of the running built-in, and the value a by-reference argument n refers
// to (its payload word).
QZ_EXPORT Variant* Param(VmStack* stack, size_t n);
QZ_EXPORT Variant* Pointer(VmStack* stack, size_t n);

// The Runtime a stack belongs to (null for a stack made without one).
QZ_EXPORT Runtime* GetRuntime(VmStack* stack);

// Creates an instance of the registered class class_name (case-insensitive) on the stack and
// returns the one owning reference. The arguments are not used and INIT does not run.
// RuntimeError 1733 with the name when no class has that name.
QZ_EXPORT ObjectPointer CreateObject(VmStack* stack, const String& class_name, const Variant* args, size_t nargs);

// --- end of virtual machine ---

// --- Built-in library and plug-ins ---
//
// A library (the built-in one, or a plug-in loaded by SET LIBRARY TO) describes itself with one
// module_description_st: two hooks and five tables. The rows are the plug-in ABI: a plug-in
// exports `extern "C" void qz1_describe_module(module_description_st*)` and fills the seven words.
// Every table ends with a row whose name is null. Signatures use the letters . L I N Y D T C O A
// with the modifiers ? @ $ * + and '|' before the optional entries.

class Class;

// A native class's instance factory: a new object of the class (the caller takes the reference).
using class_factory_type = Object* (*)(VmStack* stack, Class* cls);
// The compile-time result type of a call: args[i] describes argument i, constargs[i] holds its
// value when args[i].constant is set; the deducer fills out.
using width_deducer_type = void (*)(size_t argc, const compiler_type_info_st* args, const Variant* constargs,
                                    compiler_type_info_st* out);
using runtime_hook_type = void (*)(Runtime* runtime);

struct module_function_st {
  const char* name;            // lower case ASCII; dotted names keep their case
  const char* signature;       // arguments
  native_function_type function;
  const char* result;          // result signature
  uint64_t abbreviation;       // shortest prefix that also finds the row; 0: the full name only
};

struct module_command_st {
  const char* name;
  const char* signature;
  native_command_type function;
};

struct module_result_width_st {
  const char* name;  // a function of the same library
  width_deducer_type deducer;
};

struct module_sysvar_st {
  const char* name;              // upper case with a leading underscore
  const char* read_signature;
  native_function_type reader;
  const char* read_result;
  const char* write_signature;
  native_command_type writer;
};

// One member row of a native class.
struct native_member_def_st {
  const char* name;
  uint64_t visibility;  // 1: public
  native_function_type getter;
  native_command_type setter;
  native_function_type method;
};

struct module_class_st {
  const char* name;
  class_factory_type factory;           // null: the class cannot be instantiated
  const native_member_def_st* members;  // null: no members
};

struct module_description_st {
  runtime_hook_type attach;  // called once the tables are registered
  runtime_hook_type detach;  // called for the built-in library when the runtime shuts down
  const module_function_st* functions;
  const module_command_st* commands;
  const module_class_st* classes;
  const module_result_width_st* result_widths;
  const module_sysvar_st* sysvars;
};
static_assert(sizeof(module_description_st) == 7 * sizeof(void*), "seven words");

// The native class of that name (case-insensitive) in the built-in library of the stack's
// runtime. RuntimeError 1733 with the name when there is none.
QZ_EXPORT Class* GetClass(VmStack* stack, const String* name);

// A Runtime made on the screen and initialised (the built-in library registered and attached);
// ReleaseRuntime shuts it down and frees it.
QZ_EXPORT Runtime* CreateRuntime(Screen* screen);
QZ_EXPORT void ReleaseRuntime(Runtime* runtime);

// --- end of built-in library and plug-ins ---

// --- Tables: the public records of table creation and description ---

// The one-byte field-type code of fielddef_st and the table-handle interface.
enum FieldinfoType : uint8_t {
  FIELDINFO_BLOB = 1,        // W
  FIELDINFO_CHAR = 2,        // C
  FIELDINFO_INTEGER = 3,     // I
  FIELDINFO_CURRENCY = 4,    // Y
  FIELDINFO_DATE = 5,        // D
  FIELDINFO_DATETIME = 6,    // T
  FIELDINFO_DOUBLE = 7,      // B
  FIELDINFO_GENERAL = 8,     // G
  FIELDINFO_LOGICAL = 9,     // L
  FIELDINFO_MEMO = 10,       // M
  FIELDINFO_NUMERIC = 11,    // N
  FIELDINFO_FLOAT = 12,      // F
  FIELDINFO_VARBINARY = 13,  // Q
  FIELDINFO_VARCHAR = 14,    // V
};

// The null mode of a field definition.
enum FieldinfoNull : uint8_t {
  FIELDINFO_NULL_NOT_GIVEN = 0,
  FIELDINFO_NULL = 1,
  FIELDINFO_NOT_NULL = 2,
};

// One field of a table: filled by GetFieldInfo, read by CreateTable.
struct fielddef_st {
  uint8_t type;             // FieldinfoType
  char name[88];            // UTF-8, NUL-terminated
  uint8_t length_omitted;   // the type's default length applies
  size_t length;            // characters for character fields
  uint8_t decimals_omitted;
  size_t decimals;
  uint8_t null_mode;        // FieldinfoNull
  uint8_t autoinc;
  uint8_t binary;           // stored without code-page translation
  size_t autoinc_step;
  uint8_t autoinc_step_given;
  size_t autoinc_next;
  uint8_t autoinc_next_given;
};

// Table creation options.
struct createopts_st {
  uint64_t codepage;                 // Windows code page of the new table; 0: the runtime's default
  uint64_t blocksize;                // memo block size in bytes
  uint8_t in_memory;                 // the table lives in memory under its bare name
  uint8_t accept_altered_names;      // cut, cleaned or renumbered field names are taken as altered
  uint8_t clamp;                     // widths and decimals beyond their limit become the limit
  uint8_t accept_altered_tag_names;  // the same for index tag names
};

// One index tag: read by CreateTable, returned by GetIndexInfo (which allocates the four texts
// and the record; FreeIndexInfo frees them). Texts are UTF-8 and NUL-terminated.
struct indexdef_st {
  char* tag_name;
  char* key_expression;
  uint8_t key_flag;      // 0 exactly when the key is one field read as it is
  char* for_expression;  // may be null on input
  char* collation_name;  // may be null on input
  uint8_t unique;
  uint8_t candidate;
  uint8_t binary;
};

// The direction of a seek or an order: the selected order's own direction, ascending keys,
// descending keys.
enum SeekDir : int { SEEK_DIR_SELECTED = 0, SEEK_DIR_FORWARD = 1, SEEK_DIR_BACKWARD = 2 };

// Bit set of a seek's or a scope's bound. Bit 0: keys equal to the bound are inside the range.
// Bit 1: the range is open towards the end (a seek sets no upper bound). 0 as a scope mode: no
// bound. For the B-tree search bit 1 alone makes the bound exclusive; any other value is
// inclusive.
enum SeekRng : int { SEEK_RNG_NONE = 0, SEEK_RNG_EQUAL = 1, SEEK_RNG_OPEN = 2 };

// How a key is built from a value: for an exact comparison or as a prefix.
enum KeyOpt : int { KEY_OPT_EXACT = 1, KEY_OPT_PREFIX = 2 };

// What a record lock reports besides success: the locked record (re-read) fails the deleted,
// scope or filter test.
enum LockState : int { LOCK_STATE_IN_RANGE = 0, LOCK_STATE_OUT_OF_RANGE = 1 };

// The direction of Skip.
enum SkipDir : int { SKIP_DIR_FORWARD = 0, SKIP_DIR_BACKWARD = 1 };

// --- end of tables ---

// --- Table handles (runtime/host/table_api.cpp) ---
// A handle is the table object itself; OpenTable and CreateTable keep it in the runtime's
// registry until CloseTable. Field numbers are 0-based. Errors arrive as RuntimeError.
QZ_EXPORT void* OpenTable(VmStack* stack, const String& path);
QZ_EXPORT void CloseTable(VmStack* stack, void* handle);
// Creates the table and its tags; when that fails after the table exists, the table is closed
// and its files removed before the first error passes on.
QZ_EXPORT void* CreateTable(VmStack* stack, const String& path, const createopts_st* options, fielddef_st* fields,
                            size_t nfields, indexdef_st* indexes, size_t nindexes);
QZ_EXPORT void DropTable(VmStack* stack, const String& name);
QZ_EXPORT void RenameTable(VmStack* stack, const String& from, const String& to);
QZ_EXPORT size_t GetFieldCount(void* handle);
QZ_EXPORT void GetFieldInfo(void* handle, size_t field, fielddef_st* out);
// The first field of that name, compared without regard to case; 12 when there is none.
QZ_EXPORT size_t GetFieldNum(void* handle, const String& name);
QZ_EXPORT size_t GetNextAutoInc(void* handle, size_t field);
QZ_EXPORT size_t GetAutoIncStep(void* handle, size_t field);
QZ_EXPORT size_t RecordCount(void* handle);
QZ_EXPORT size_t RecordNumber(void* handle);
QZ_EXPORT size_t GetTableFileSize(void* handle);
QZ_EXPORT time_t TableLastModified(void* handle);
QZ_EXPORT time_t TableCreateTime(void* handle);
QZ_EXPORT void GotoTop(VmStack* stack, void* handle);
QZ_EXPORT void GotoBottom(VmStack* stack, void* handle);
QZ_EXPORT void GotoRecord(VmStack* stack, void* handle, size_t recno);
QZ_EXPORT void GotoEof(void* handle);
QZ_EXPORT void Skip(VmStack* stack, void* handle, SkipDir dir, size_t n);
QZ_EXPORT bool Bof(void* handle);
QZ_EXPORT bool Eof(void* handle);
QZ_EXPORT void GetFieldVariant(void* handle, size_t field, Variant* out);
// The field's bytes; *size holds the capacity on entry and the value's full length on return,
// so a size beyond the capacity tells that only a prefix was copied.
QZ_EXPORT void GetFieldBinary(void* handle, size_t field, char* buffer, size_t* size);
QZ_EXPORT void SetFieldBinary(void* handle, size_t field, const char* bytes, size_t size);
QZ_EXPORT void GetFieldText(void* handle, size_t field, char* buffer, size_t* size, const Charset** charset);
QZ_EXPORT void SetFieldText(void* handle, size_t field, const char* text, size_t size, const Charset* charset);
QZ_EXPORT void GetFieldMoneyString(void* handle, size_t field, char* buffer, size_t* size);
QZ_EXPORT void SetFieldMoneyString(void* handle, size_t field, char* text, size_t size);
QZ_EXPORT const Charset* GetTableCharset(void* handle);
QZ_EXPORT bool IsFieldNull(void* handle, size_t field);
QZ_EXPORT void SetFieldNull(void* handle, size_t field);
QZ_EXPORT int32_t GetFieldInt32(void* handle, size_t field);
QZ_EXPORT void SetFieldInt32(void* handle, size_t field, int32_t value);
QZ_EXPORT double GetFieldDouble(void* handle, size_t field);
QZ_EXPORT void SetFieldDouble(void* handle, size_t field, double value);
QZ_EXPORT bool GetFieldLogical(void* handle, size_t field);
QZ_EXPORT void SetFieldLogical(void* handle, size_t field, bool value);
QZ_EXPORT void GetFieldDateYMD(void* handle, size_t field, size_t* year, size_t* month, size_t* day, bool* unused);
QZ_EXPORT void SetFieldDateYMD(void* handle, size_t field, intptr_t year, size_t month, size_t day, bool unused);
QZ_EXPORT void GetFieldDateTimeYMDHIS(void* handle, size_t field, size_t* year, size_t* month, size_t* day,
                                      size_t* hour, size_t* minute, size_t* second, bool* unused);
QZ_EXPORT void SetFieldDateTimeYMDHIS(void* handle, size_t field, long year, long month, long day, long hour,
                                      long minute, long second);
QZ_EXPORT size_t GetMemoSize(void* handle, size_t field);
QZ_EXPORT size_t GetIndexCount(void* handle);
QZ_EXPORT indexdef_st* GetIndexInfo(void* handle, size_t tag);
QZ_EXPORT void FreeIndexInfo(indexdef_st* info);
QZ_EXPORT void SetDeleted(VmStack* stack, bool value);
QZ_EXPORT void SetFieldReadonly(void* handle, size_t field, bool readonly);
QZ_EXPORT bool LockCurrentRecord(VmStack* stack, void* handle, LockState& state);
QZ_EXPORT void UnlockCurrentRecord(void* handle);
QZ_EXPORT bool IsCurrentRecordLocked(void* handle);
QZ_EXPORT void UnlockAll(void* handle);
QZ_EXPORT void TableUpdate(VmStack* stack, void* handle, int unused);
QZ_EXPORT void TableRevert(void* handle, int unused);
QZ_EXPORT void BeginAppendRecord(void* handle, int unused);
QZ_EXPORT void DeleteRecord(void* handle);
QZ_EXPORT bool IsRecordDeleted(void* handle);
// Keys: *size holds the buffer's capacity on entry and the key's length on return.
QZ_EXPORT void EvalIndexKey(VmStack* stack, void* handle, char* buffer, size_t* size);
QZ_EXPORT void GetIndexKey(void* handle, char* buffer, size_t* size);
QZ_EXPORT void SelectIndex(VmStack* stack, void* handle, size_t tag);
QZ_EXPORT void UnselectIndex(void* handle);
QZ_EXPORT bool SeekRawKey(VmStack* stack, void* handle, const char* key, size_t size, SeekRng range, SeekDir dir,
                          bool near);
QZ_EXPORT void SetScope(VmStack* stack, void* handle, const char* key, size_t size, SeekDir which, SeekRng mode);
// Removes both scope bounds.
QZ_EXPORT void ClearScope(VmStack* stack, void* handle);
QZ_EXPORT double GetIndexPos(void* handle);
// --- end of table handles ---

// --- Raw index keys (runtime/indexes/index_keys.cpp) ---
// A key taken as a big-endian unsigned number, stepped by one in place: true, or false when it
// wrapped around (every byte was 0xFF, or 0x00 for the shrink) or the length is 0.
QZ_EXPORT bool IncreaseRawKey(char* key, size_t length);
QZ_EXPORT bool ShrinkRawKey(char* key, size_t length);
// The same on a copy: source is copied to destination, which is then stepped.
QZ_EXPORT bool IncreaseRawKey(const char* source, size_t length, char* destination);
QZ_EXPORT bool ShrinkRawKey(const char* source, size_t length, char* destination);
// --- end of raw index keys ---

// --- Running and the shell (runtime/host/run.cpp, runtime/host/shell.cpp) ---
QZ_EXPORT int RunProgram(Runtime* runtime, const String& name);
QZ_EXPORT void RunCommand(Runtime* runtime, const String& text);
QZ_EXPORT void RunScript(Runtime* runtime, const String& text);
QZ_EXPORT int GetMainStack(Runtime* runtime, VmStack** out);
QZ_EXPORT int CreateStack(Runtime* runtime, size_t size, VmStack** out);
QZ_EXPORT int ReleaseStack(VmStack* stack);
// The display name of a field type code for DISPLAY STRUCTURE; "?" for an unknown code.
QZ_EXPORT const char* field_type_name(uint8_t code);
// The shell: command-line options, then a script or the interactive loop.
QZ_EXPORT int RunQzsh(Runtime* runtime);
QZ_EXPORT int RunInteractiveShell(Runtime* runtime);
QZ_EXPORT int CollectPrintSysinfo(Runtime* runtime);
// --- end of running and the shell ---

}  // namespace qzbase

// The library's own sources and its tests see the internal part as well; hosts never define this.
#ifdef QZ_INTERNAL_BUILD
#include "qzbase_internal.h"
#endif
