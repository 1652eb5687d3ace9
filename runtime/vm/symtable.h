// symtable.h - the runtime's symbol table and the Symbol value.
//
// Every name the language handles at run time becomes a symbol_id_type. Names compare without
// regard to case (code points folded with u_toupper, as Collation::unicode_machine_ci compares
// them), so myVar, MYVAR and MyVar share one id. Ids 1 .. 100 are the 97 predefined names
// (9, 10 and 65 are unassigned); every other name gets the next id from 1024 upwards on first
// use and keeps it for the life of the table. resolve() gives the upper-case name of an id.
//
// One Symtable is shared by every stack of a runtime, language threads included, so it is guarded
// by a reader-writer lock: looking up a name that is already there takes the lock shared (the
// calling thread's stripe of it only), and only a new name takes it exclusively.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace qzbase {

// Predefined ids the virtual machine and the object model use as constants.
inline constexpr symbol_id_type symbol_THIS = 1;
inline constexpr symbol_id_type symbol_INIT = 3;
inline constexpr symbol_id_type symbol_INDEXER = 6;  // "[]", the member objects index through
// The loop variables of FOR EACH key, value over a collection.
inline constexpr symbol_id_type symbol_KEY = 98;
inline constexpr symbol_id_type symbol_VALUE = 99;
// The first id handed out to a name that is not predefined.
inline constexpr symbol_id_type first_free_symbol_id = 1024;

// One row of the predefined symbols: an upper-case UTF-8 name and its fixed id.
struct predefined_symbol_st {
  const char* name;
  symbol_id_type id;
};
// The 97 rows in id order, ended by a row with a null name.
extern const predefined_symbol_st predefined_symbols[];
inline constexpr size_t predefined_symbol_count = 97;

// A reader-writer lock whose readers scale: each thread takes the shared side of its own stripe
// (its own cache line), and a writer takes every stripe, in order. Symbol lookups from many
// language threads therefore do not contend on one lock word.
class StripedSharedMutex {
 public:
  static constexpr size_t kStripes = 16;

  StripedSharedMutex() = default;
  StripedSharedMutex(const StripedSharedMutex&) = delete;
  StripedSharedMutex& operator=(const StripedSharedMutex&) = delete;

  // Returns the stripe to pass to unlock_shared.
  size_t lock_shared() const {
    size_t i = this_thread_stripe();
    stripes_[i].lock.lock_shared();
    return i;
  }
  void unlock_shared(size_t stripe) const { stripes_[stripe].lock.unlock_shared(); }
  void lock() {
    for (Stripe& s : stripes_) s.lock.lock();
  }
  void unlock() {
    for (size_t i = kStripes; i-- > 0;) stripes_[i].lock.unlock();
  }

 private:
  struct alignas(64) Stripe {
    mutable std::shared_mutex lock;
  };
  static size_t this_thread_stripe();

  Stripe stripes_[kStripes];
};

class Symtable {
 public:
  // Empty tables holding the predefined names; the next id is 1024.
  Symtable();
  ~Symtable();
  Symtable(const Symtable&) = delete;
  Symtable& operator=(const Symtable&) = delete;

  // The id of a name, assigning the next free id on first use. Thread-safe.
  symbol_id_type symbolize(const String& name);
  // The same for a NUL-terminated UTF-8 name.
  symbol_id_type symbolize(const char* name);
  // The same for size bytes of UTF-8.
  symbol_id_type symbolize(const char* name, size_t size);

  // The id of a name already in the table, without adding it: false when it is not there.
  bool find(const String& name, symbol_id_type* id) const;

  // The upper-case name of an id; an id never handed out is a broken invariant.
  String resolve(symbol_id_type id) const;

  // The number of names in the table (predefined ones included).
  size_t size() const;

 private:
  // The name table hashes and compares UTF-8 bytes with case folded; each node caches its hash.
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const;  // deliberately not noexcept: nodes cache it
  };
  struct NameEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };

  symbol_id_type symbolize_utf8(std::string_view name);
  void insert_locked(std::string_view name, symbol_id_type id);

  mutable StripedSharedMutex lock_;
  std::unordered_map<std::string, symbol_id_type, NameHash, NameEqual> names_;  // as first written
  std::unordered_map<uint64_t, String> ids_;                                    // upper case
  symbol_id_type next_id_;
};

// A name with its id and its table. The name is kept in UTF-8.
class Symbol {
 public:
  Symbol() : id(0), table(nullptr) {}
  // Copies the name, takes its id from table->symbolize and converts the copy to UTF-8.
  Symbol(const String& name, Symtable* table);
  // The same with a heap String that the Symbol owns: it is freed once the Symbol is built.
  Symbol(String* owned_name, Symtable* table);
  Symbol(const Symbol&) = default;
  Symbol& operator=(const Symbol&) = default;
  ~Symbol();

  // A heap Symbol of n UTF-32 characters converted to the charset cs.
  static Symbol* from_utf32(const char32_t* chars, size_t n, const Charset* cs, Symtable* table);
  // A new heap Symbol with the same name and table (and so the same id).
  Symbol* clone() const;

  String name;
  symbol_id_type id;
  Symtable* table;
};

}  // namespace qzbase
