// collection.h - "Collection": an ordered list of values, numbered from 1, each optionally reached
// by a character key; and its four iterators (by position or by key, forwards or backwards).
//
// The entries, the key map and KeySort are guarded by the object's property lock: shared for
// reads, exclusive for changes. A value replaced or removed under the lock is released only after
// the lock is dropped, so an object's DESTROY never runs while the collection is locked.
//
// Iterators keep a position number (index orders) or a copy of the current key (key orders), never
// a pointer into the collection: each step finds its place again under the shared lock, so entries
// added or removed meanwhile (by the loop's own body or another thread) leave no dangling position.
// Key and Value without a current entry raise 2061.
#pragma once

#include <qzbase.h>

#include <map>
#include <vector>

#include "objects/class.h"
#include "objects/object.h"

namespace qzbase {

struct collection_entry_st {
  Variant value;
  uint64_t position;  // 0-based index in the entry vector
  String key;         // empty for an entry added without a key
  bool keyed;         // added with a key (an empty one included)
};

// Keys compare case-sensitively in code-point order.
struct collection_key_less {
  bool operator()(const String& a, const String& b) const {
    return Collation::unicode_machine->compare(a.read(), a.end(), a.get_charset(), b.read(), b.end(),
                                               b.get_charset()) < 0;
  }
};

class Collection_Object : public Object {
 public:
  explicit Collection_Object(Class* cls);
  ~Collection_Object() override;  // frees the entries
  // Object::destroy, then every entry's value is released with the stack (outside the lock).
  void destroy(VmStack* stack) override;

  // Appends an entry without a key / with a key (2062 when the key is present).
  void add(VmStack* stack, const Variant* value);
  void add(VmStack* stack, const String& key, const Variant* value);
  size_t count() const;

  std::map<String, collection_entry_st*, collection_key_less> keys;
  std::vector<collection_entry_st*> entries;
  int32_t keysort = 0;
};

extern const native_member_def_st collection_members[];
extern const native_member_def_st collection_iterator_members[];
Object* new_collection(VmStack* stack, Class* cls);
Object* new_forward_index_iterator(VmStack* stack, Class* cls);
Object* new_reverse_index_iterator(VmStack* stack, Class* cls);
Object* new_forward_key_iterator(VmStack* stack, Class* cls);
Object* new_reverse_key_iterator(VmStack* stack, Class* cls);

}  // namespace qzbase
