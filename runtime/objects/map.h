// map.h - "Map": an ordered dictionary whose keys and values are any comparable language values,
// its iterator "Map.ForwardIterator", and "ArrayIterator", the iterator FOR EACH uses over arrays.
//
// Keys order by the value comparison (no stack: strings compare exactly); a null key sorts before
// every other key, and two null keys are one key. A key the comparison cannot order (a type it
// does not compare, a NaN) raises 107 and leaves the map unchanged: every operation checks the key
// before it touches the tree, so no such key ever enters it.
//
// The tree is guarded by the object's property lock (shared for reads, exclusive for changes);
// replaced and removed values are released only after the lock is dropped. The map iterator keeps
// a copy of its current key and finds the next one again under the shared lock at every step.
#pragma once

#include <qzbase.h>

#include <map>

#include "objects/object.h"

namespace qzbase {

struct map_key_less {
  // 107 for keys the comparison cannot order.
  bool operator()(const Variant& a, const Variant& b) const;
};

class Map_Object : public Object {
 public:
  explicit Map_Object(Class* cls);
  ~Map_Object() override;  // releases keys and values without a stack
  // Object::destroy, then the values are released with the stack (outside the lock).
  void destroy(VmStack* stack) override;

  // Inserts copies of key and value; 2062 when the key is present, 107 for a key that cannot be
  // ordered.
  void add(VmStack* stack, const Variant* key, const Variant* value);

  std::map<Variant, Variant, map_key_less> items;
};

// FOR EACH over an array: a share of the array's element block taken when the enumeration began
// (later writes to the array copy the block and leave this one as it was).
class Array_Iterator_Object : public Object {
 public:
  explicit Array_Iterator_Object(Class* cls);
  ~Array_Iterator_Object() override;
  void destroy(VmStack* stack) override;  // releases the array with the stack

  Variant array;       // an array value, empty until set
  uint64_t position = 0;
};

extern const native_member_def_st map_members[];
extern const native_member_def_st map_iterator_members[];
extern const native_member_def_st array_iterator_members[];
Object* new_map(VmStack* stack, Class* cls);
Object* new_map_iterator(VmStack* stack, Class* cls);
Object* new_array_iterator(VmStack* stack, Class* cls);

}  // namespace qzbase
