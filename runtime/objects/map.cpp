// map.cpp - "Map", "Map.ForwardIterator" and "ArrayIterator".
#include "objects/map.h"

#include <exception>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "values/comparison.h"
#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

bool map_key_less::operator()(const Variant& a, const Variant& b) const {
  QZ_TRACE;
  bool a_null = a.tag == VT_NULL;
  bool b_null = b.tag == VT_NULL;
  if (a_null || b_null) return a_null && !b_null;
  bool null_result = false;
  int r = variant_cmp(&a, &b, &null_result, nullptr);
  if (null_result) throw_assert_failed();
  if (r == kCmpUnordered) throw RuntimeError(107);
  return r < 0;
}

namespace {

Map_Object* self_of(VmStack* stack) { return static_cast<Map_Object*>(stack->method_context.owner); }

const Variant* argument(VmStack* stack, size_t nargs, size_t i) {
  const Variant* v = &stack->sp[nargs - i].value;
  return v->tag == VT_REFERENCE ? v->reference.target : v;
}

// 107 for a key no comparison can order, before the tree sees it (an empty tree compares nothing).
void check_key(const Variant* key) {
  if (key->tag == VT_NULL) return;
  bool null_result = false;
  if (variant_cmp(key, key, &null_result, nullptr) != 0) throw RuntimeError(107);
}

// Copies key into an owned Variant (a reference is followed).
void copy_key(const Variant* key, Variant* out) {
  check_key(key);
  key->copy(out);
}

}  // namespace

Map_Object::Map_Object(Class* cls) : Object(cls) { QZ_TRACE; }

Map_Object::~Map_Object() {
  QZ_TRACE;
  for (auto& [key, value] : items) {
    const_cast<Variant&>(key).release(nullptr);
    value.release(nullptr);
  }
}

void Map_Object::destroy(VmStack* stack) {
  QZ_TRACE;
  destroy_releasing(stack, [this](std::vector<Variant>* taken) {
    taken->reserve(items.size());
    for (auto& [key, value] : items) taken->emplace_back(std::move(value));
  });
}

void Map_Object::add(VmStack* stack, const Variant* key, const Variant* value) {
  QZ_TRACE;
  ScopedValue k(stack);
  copy_key(key, &k.value);
  ScopedValue v(stack);
  if (value != nullptr) value->copy(&v.value);
  std::unique_lock<std::shared_mutex> lock(property_lock);
  auto it = items.lower_bound(k.value);
  if (it != items.end() && !items.key_comp()(k.value, it->first)) throw RuntimeError(2062);
  items.emplace_hint(it, std::move(k.value), std::move(v.value));
}

namespace {

void item_access(VmStack* stack, size_t nargs, Variant* result) {
  QZ_TRACE;
  if (nargs != 1) throw RuntimeError(11);
  const Variant* key = argument(stack, nargs, 1);
  check_key(key);
  Map_Object* m = self_of(stack);
  std::shared_lock<std::shared_mutex> lock(m->property_lock);
  auto it = m->items.find(*key);
  if (it == m->items.end()) throw RuntimeError(2061);
  it->second.copy(result);
}

void item_assign(VmStack* stack, size_t nargs) {
  QZ_TRACE;
  if (nargs != 2) throw RuntimeError(11);
  Map_Object* m = self_of(stack);
  ScopedValue key(stack);
  copy_key(argument(stack, nargs, 2), &key.value);
  ScopedValue fresh(stack);
  argument(stack, nargs, 1)->copy(&fresh.value);
  ScopedValue old(stack);  // released after the lock is dropped
  std::unique_lock<std::shared_mutex> lock(m->property_lock);
  auto it = m->items.lower_bound(key.value);
  if (it != m->items.end() && !m->items.key_comp()(key.value, it->first)) {
    old.value = std::move(it->second);
    it->second = std::move(fresh.value);
    return;
  }
  m->items.emplace_hint(it, std::move(key.value), std::move(fresh.value));
}

void add(VmStack* stack, size_t nargs, Variant*) {
  QZ_TRACE;
  if (nargs < 2) throw RuntimeError(11);
  self_of(stack)->add(stack, argument(stack, nargs, 1), argument(stack, nargs, 2));
}

void remove(VmStack* stack, size_t nargs, Variant*) {
  QZ_TRACE;
  if (nargs != 1) throw RuntimeError(11);
  const Variant* key = argument(stack, nargs, 1);
  check_key(key);
  Map_Object* m = self_of(stack);
  ScopedValue old_key(stack);
  ScopedValue old_value(stack);
  std::unique_lock<std::shared_mutex> lock(m->property_lock);
  auto it = m->items.find(*key);
  if (it == m->items.end()) throw RuntimeError(2061);
  old_key.value = std::move(const_cast<Variant&>(it->first));
  old_value.value = std::move(it->second);
  m->items.erase(it);
  lock.unlock();
}

// ---- Map.ForwardIterator -------------------------------------------------------------------------

class Map_Iterator : public Object {
 public:
  explicit Map_Iterator(Class* cls) : Object(cls) {}
  ~Map_Iterator() override {
    map.release(nullptr);
    key.release(nullptr);
  }
  void destroy(VmStack* stack) override {
    Object::destroy(stack);
    Variant taken;
    Variant taken_key;
    {
      std::unique_lock<std::shared_mutex> lock(property_lock);
      taken = std::move(map);
      taken_key = std::move(key);
    }
    taken.release(stack);
    taken_key.release(stack);
  }

  Variant map;  // the map enumerated (an object value: THIS, which keeps it alive)
  // Its native link: THIS is an object of a program's class when that class derives from Map.
  Map_Object* native = nullptr;
  Variant key;  // a copy of the current key
  bool first = true;
  bool current = false;
};

Map_Iterator* iterator_of(VmStack* stack) { return static_cast<Map_Iterator*>(stack->method_context.owner); }

Map_Object* map_of(Map_Iterator* it) {
  if (it->map.tag != VT_OBJECT || it->native == nullptr) throw RuntimeError(2061);
  return it->native;
}

void map_iterator_movenext(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Map_Iterator* it = iterator_of(stack);
  ScopedValue replaced(stack);
  {
    std::unique_lock<std::shared_mutex> own(it->property_lock);
    Map_Object* m = map_of(it);
    std::shared_lock<std::shared_mutex> lock(m->property_lock);
    auto next = m->items.end();
    if (it->first) {
      next = m->items.begin();
    } else if (it->current) {
      next = m->items.upper_bound(it->key);
    }
    it->first = false;
    it->current = next != m->items.end();
    replaced.value = std::move(it->key);
    if (it->current) next->first.copy(&it->key);
  }
  result->set_bool(it->current);
}

template <bool Value>
void map_iterator_read(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Map_Iterator* it = iterator_of(stack);
  std::shared_lock<std::shared_mutex> own(it->property_lock);
  if (!it->current) throw RuntimeError(2061);
  Map_Object* m = map_of(it);
  std::shared_lock<std::shared_mutex> lock(m->property_lock);
  auto found = m->items.find(it->key);
  if (found == m->items.end()) throw RuntimeError(2061);  // removed meanwhile
  (Value ? found->second : found->first).copy(result);
}

void get_enumerator(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  ObjectPointer iterator = CreateObject(stack, String("Map.ForwardIterator"), nullptr, 0);
  auto* it = static_cast<Map_Iterator*>(iterator.get_object());
  Object* self = stack->method_context.object;
  if (self == nullptr || self->control == nullptr) throw_assert_failed();
  {
    std::unique_lock<std::shared_mutex> lock(it->property_lock);
    it->map.set(self);
    it->native = self_of(stack);
  }
  result->set(iterator);
}

// ---- ArrayIterator --------------------------------------------------------------------------------

Array_Iterator_Object* array_iterator_of(VmStack* stack) {
  return static_cast<Array_Iterator_Object*>(stack->method_context.owner);
}

size_t element_count(const Array_Iterator_Object* it) {
  return it->array.tag == VT_ARRAY ? it->array.array.count() : 0;
}

void array_iterator_movenext(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Array_Iterator_Object* it = array_iterator_of(stack);
  size_t n = element_count(it);
  if (it->position <= n) ++it->position;
  result->set_bool(it->position <= n);
}

void array_iterator_value(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Array_Iterator_Object* it = array_iterator_of(stack);
  if (it->position == 0 || it->position > element_count(it)) throw RuntimeError(2061);
  it->array.array.read(it->position)->copy(result);
}

}  // namespace

Array_Iterator_Object::Array_Iterator_Object(Class* cls) : Object(cls) { QZ_TRACE; }

Array_Iterator_Object::~Array_Iterator_Object() {
  QZ_TRACE;
  array.release(nullptr);
}

void Array_Iterator_Object::destroy(VmStack* stack) {
  QZ_TRACE;
  Object::destroy(stack);
  array.release(stack);
}

const native_member_def_st map_members[] = {
    {"[]", 1, item_access, item_assign, nullptr},
    {"Add", 1, nullptr, nullptr, add},
    {"Item", 1, nullptr, nullptr, item_access},
    {"Remove", 1, nullptr, nullptr, remove},
    {"get_enumerator", 1, nullptr, nullptr, get_enumerator},
    {nullptr, 0, nullptr, nullptr, nullptr},
};

const native_member_def_st map_iterator_members[] = {
    {"Key", 1, map_iterator_read<false>, nullptr, nullptr},
    {"Value", 1, map_iterator_read<true>, nullptr, nullptr},
    {"MoveNext", 1, nullptr, nullptr, map_iterator_movenext},
    {nullptr, 0, nullptr, nullptr, nullptr},
};

const native_member_def_st array_iterator_members[] = {
    {"Value", 1, array_iterator_value, nullptr, nullptr},
    {"MoveNext", 1, nullptr, nullptr, array_iterator_movenext},
    {nullptr, 0, nullptr, nullptr, nullptr},
};

Object* new_map(VmStack*, Class* cls) {
  QZ_TRACE;
  return new Map_Object(cls);
}

Object* new_map_iterator(VmStack*, Class* cls) {
  QZ_TRACE;
  return new Map_Iterator(cls);
}

Object* new_array_iterator(VmStack*, Class* cls) {
  QZ_TRACE;
  return new Array_Iterator_Object(cls);
}

}  // namespace qzbase
