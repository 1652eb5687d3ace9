// collection.cpp - "Collection" and its iterators.
#include "objects/collection.h"

#include <exception>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

Collection_Object* self_of(VmStack* stack) { return static_cast<Collection_Object*>(stack->method_context.owner); }

// Argument i (1-based) of a member call with nargs arguments: argument 1 is the deepest slot.
const Variant* argument(VmStack* stack, size_t nargs, size_t i) {
  const Variant* v = &stack->sp[nargs - i].value;
  return v->tag == VT_REFERENCE ? v->reference.target : v;
}

bool is_number(const Variant* v) { return v->tag == VT_INTEGER || v->tag == VT_NUMERIC || v->tag == VT_MONEY; }

// The entry a selector names (the lock held): a position 1..count or a key; 2061 when there is
// none, 11 for a selector of another type.
collection_entry_st* select(Collection_Object* c, const Variant* selector) {
  if (is_number(selector)) {
    long k = static_cast<long>(*selector);
    if (k < 1 || static_cast<size_t>(k) > c->entries.size()) throw RuntimeError(2061);
    return c->entries[static_cast<size_t>(k - 1)];
  }
  if (selector->tag == VT_STRING) {
    auto it = c->keys.find(selector->string);
    if (it == c->keys.end()) throw RuntimeError(2061);
    return it->second;
  }
  throw RuntimeError(11);
}

}  // namespace

Collection_Object::Collection_Object(Class* cls) : Object(cls) { QZ_TRACE; }

Collection_Object::~Collection_Object() {
  QZ_TRACE;
  for (collection_entry_st* e : entries) {
    e->value.release(nullptr);
    delete e;
  }
}

void Collection_Object::destroy(VmStack* stack) {
  QZ_TRACE;
  destroy_releasing(stack, [this](std::vector<Variant>* taken) {
    taken->reserve(entries.size());
    for (collection_entry_st* e : entries) taken->emplace_back(std::move(e->value));
  });
}

size_t Collection_Object::count() const {
  QZ_TRACE;
  std::shared_lock<std::shared_mutex> lock(property_lock);
  return entries.size();
}

void Collection_Object::add(VmStack* stack, const Variant* value) {
  QZ_TRACE;
  auto entry = std::make_unique<collection_entry_st>();
  if (value != nullptr) value->copy(&entry->value);
  entry->keyed = false;
  try {
    std::unique_lock<std::shared_mutex> lock(property_lock);
    entry->position = entries.size();
    entries.push_back(entry.get());
  } catch (...) {
    entry->value.release(stack);
    throw;
  }
  entry.release();
}

void Collection_Object::add(VmStack* stack, const String& key, const Variant* value) {
  QZ_TRACE;
  auto entry = std::make_unique<collection_entry_st>();
  entry->key = key;
  entry->keyed = true;
  if (value != nullptr) value->copy(&entry->value);
  try {
    std::unique_lock<std::shared_mutex> lock(property_lock);
    if (keys.count(key) != 0) throw RuntimeError(2062);
    entry->position = entries.size();
    entries.push_back(entry.get());
    try {
      keys.emplace(key, entry.get());
    } catch (...) {
      entries.pop_back();
      throw;
    }
  } catch (...) {
    entry->value.release(stack);
    throw;
  }
  entry.release();
}

namespace {

// ---- members of "Collection" ------------------------------------------------------------------

void item_access(VmStack* stack, size_t nargs, Variant* result) {
  QZ_TRACE;
  if (nargs != 1) throw RuntimeError(11);
  Collection_Object* c = self_of(stack);
  std::shared_lock<std::shared_mutex> lock(c->property_lock);
  select(c, argument(stack, nargs, 1))->value.copy(result);
}

void item_assign(VmStack* stack, size_t nargs) {
  QZ_TRACE;
  if (nargs != 2) throw RuntimeError(11);
  Collection_Object* c = self_of(stack);
  ScopedValue fresh(stack);
  argument(stack, nargs, 1)->copy(&fresh.value);
  ScopedValue old(stack);  // released after the lock is dropped
  std::unique_lock<std::shared_mutex> lock(c->property_lock);
  collection_entry_st* e = select(c, argument(stack, nargs, 2));
  old.value = std::move(e->value);
  e->value = std::move(fresh.value);
}

void count(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  result->set_integer(static_cast<unsigned long>(self_of(stack)->count()));
}

void keysort_access(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Collection_Object* c = self_of(stack);
  std::shared_lock<std::shared_mutex> lock(c->property_lock);
  result->set_integer(c->keysort);
}

void keysort_assign(VmStack* stack, size_t nargs) {
  QZ_TRACE;
  if (nargs != 1) throw RuntimeError(11);
  long value = static_cast<long>(*argument(stack, nargs, 1));
  if (static_cast<unsigned long>(value) > 3) throw RuntimeError(11);
  Collection_Object* c = self_of(stack);
  std::unique_lock<std::shared_mutex> lock(c->property_lock);
  c->keysort = static_cast<int32_t>(value);
}

void add(VmStack* stack, size_t nargs, Variant*) {
  QZ_TRACE;
  if (nargs == 0) throw RuntimeError(11);
  Collection_Object* c = self_of(stack);
  const Variant* value = argument(stack, nargs, 1);
  if (nargs == 1) {
    c->add(stack, value);
    return;
  }
  // A key must be a character value: any other would be unreachable by Item and GetKey.
  const Variant* key = argument(stack, nargs, 2);
  if (key->tag != VT_STRING) throw RuntimeError(11);
  c->add(stack, key->string, value);
}

void getkey(VmStack* stack, size_t nargs, Variant* result) {
  QZ_TRACE;
  if (nargs != 1) throw RuntimeError(11);
  Collection_Object* c = self_of(stack);
  const Variant* selector = argument(stack, nargs, 1);
  std::shared_lock<std::shared_mutex> lock(c->property_lock);
  if (is_number(selector)) {
    long k = static_cast<long>(*selector);
    if (k < 1 || static_cast<size_t>(k) > c->entries.size()) {
      lock.unlock();
      result->set_string(String(""));
      return;
    }
    result->set_string(c->entries[static_cast<size_t>(k - 1)]->key);
    return;
  }
  if (selector->tag == VT_STRING) {
    auto it = c->keys.find(selector->string);
    result->set_integer(it == c->keys.end() ? 0UL : static_cast<unsigned long>(it->second->position + 1));
    return;
  }
  throw RuntimeError(11);
}

void remove(VmStack* stack, size_t nargs, Variant*) {
  QZ_TRACE;
  if (nargs != 1) throw RuntimeError(11);
  Collection_Object* c = self_of(stack);
  const Variant* selector = argument(stack, nargs, 1);
  if (selector->tag == VT_INTEGER && static_cast<long>(*selector) == -1) {
    std::vector<collection_entry_st*> taken;
    {
      std::unique_lock<std::shared_mutex> lock(c->property_lock);
      taken.swap(c->entries);
      c->keys.clear();
    }
    std::vector<Variant> values;
    values.reserve(taken.size());
    for (collection_entry_st* e : taken) {
      values.emplace_back(std::move(e->value));
      delete e;
    }
    release_values(stack, values);
    return;
  }
  std::unique_ptr<collection_entry_st> removed;
  {
    std::unique_lock<std::shared_mutex> lock(c->property_lock);
    collection_entry_st* e = select(c, selector);
    if (e->keyed) {
      auto it = c->keys.find(e->key);
      if (it != c->keys.end() && it->second == e) c->keys.erase(it);
    }
    c->entries.erase(c->entries.begin() + static_cast<std::ptrdiff_t>(e->position));
    for (size_t i = e->position; i < c->entries.size(); ++i) c->entries[i]->position = i;
    removed.reset(e);
  }
  removed->value.release(stack);
}

const char* const iterator_class_names[4] = {
    "Collection.ForwardIndexIterator",
    "Collection.ReverseIndexIterator",
    "Collection.ForwardKeyIterator",
    "Collection.ReverseKeyIterator",
};

// ---- iterators ----------------------------------------------------------------------------------

enum IteratorOrder { FORWARD_INDEX = 0, REVERSE_INDEX = 1, FORWARD_KEY = 2, REVERSE_KEY = 3 };

class Collection_Iterator : public Object {
 public:
  Collection_Iterator(Class* cls, int order) : Object(cls), order(order) {}
  ~Collection_Iterator() override { collection.release(nullptr); }
  // The collection is let go with the stack: it may hold the last reference to objects with
  // DESTROY code.
  void destroy(VmStack* stack) override {
    Object::destroy(stack);
    Variant taken;
    {
      std::unique_lock<std::shared_mutex> lock(property_lock);
      taken = std::move(collection);
    }
    taken.release(stack);
  }

  Variant collection;   // the collection enumerated (an object value: THIS, which keeps it alive)
  // Its native link: THIS is an object of a program's class when that class derives from Collection.
  Collection_Object* native = nullptr;
  const int order;
  bool first = true;
  bool current = false;  // a current entry was reached and is still expected
  size_t position = 0;   // index orders: the entry's 0-based position
  String key;            // key orders: the current key
  const void* seen = nullptr;  // forward index: the entry last reached (compared, never read)
};

Collection_Iterator* iterator_of(VmStack* stack) { return static_cast<Collection_Iterator*>(stack->method_context.owner); }

Collection_Object* collection_of(Collection_Iterator* it) {
  std::shared_lock<std::shared_mutex> lock(it->property_lock);
  if (it->collection.tag != VT_OBJECT || it->native == nullptr) throw RuntimeError(2061);
  return it->native;
}

void iterator_movenext(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Collection_Iterator* it = iterator_of(stack);
  Collection_Object* c = collection_of(it);
  std::lock_guard<std::shared_mutex> own(it->property_lock);
  std::shared_lock<std::shared_mutex> lock(c->property_lock);
  bool first = it->first;
  it->first = false;
  switch (it->order) {
    case FORWARD_INDEX:
      if (first) {
        it->position = 0;
      } else if (it->current) {
        // When the current entry was removed meanwhile, its successor already took its place.
        if (it->position < c->entries.size() && c->entries[it->position] == it->seen) ++it->position;
      }
      it->current = it->position < c->entries.size();
      it->seen = it->current ? c->entries[it->position] : nullptr;
      break;
    case REVERSE_INDEX:
      // An entry removed meanwhile may leave the position past the end: the last entry is next.
      if (first || it->position > c->entries.size()) {
        it->position = c->entries.size();
      } else if (it->current) {
        --it->position;
      }
      it->current = it->position > 0;
      break;
    case FORWARD_KEY: {
      auto next = first ? c->keys.begin() : c->keys.upper_bound(it->key);
      if (!first && !it->current) next = c->keys.end();
      it->current = next != c->keys.end();
      if (it->current) it->key = next->first;
      break;
    }
    default: {
      auto after = first ? c->keys.end() : c->keys.lower_bound(it->key);
      it->current = (first || it->current) && after != c->keys.begin();
      if (it->current) it->key = std::prev(after)->first;
      break;
    }
  }
  result->set_bool(it->current);
}

// The current entry under the collection's shared lock; 2061 when there is none (before the first
// step, after the last, or removed meanwhile).
template <class F>
void with_current(VmStack* stack, F&& read) {
  Collection_Iterator* it = iterator_of(stack);
  Collection_Object* c = collection_of(it);
  std::shared_lock<std::shared_mutex> own(it->property_lock);
  std::shared_lock<std::shared_mutex> lock(c->property_lock);
  if (!it->current) throw RuntimeError(2061);
  const collection_entry_st* e = nullptr;
  switch (it->order) {
    case FORWARD_INDEX:
      // The entry reached last, unless it was removed meanwhile.
      if (it->position < c->entries.size() && c->entries[it->position] == it->seen) e = c->entries[it->position];
      break;
    case REVERSE_INDEX:
      if (it->position > 0 && it->position <= c->entries.size()) e = c->entries[it->position - 1];
      break;
    default: {
      auto found = c->keys.find(it->key);
      if (found != c->keys.end()) e = found->second;
      break;
    }
  }
  if (e == nullptr) throw RuntimeError(2061);
  read(e);
}

void iterator_key(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  with_current(stack, [&](const collection_entry_st* e) { result->set_string(e->key); });
}

void iterator_value(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  with_current(stack, [&](const collection_entry_st* e) { e->value.copy(result); });
}

void get_enumerator(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Collection_Object* c = self_of(stack);
  int32_t order;
  {
    std::shared_lock<std::shared_mutex> lock(c->property_lock);
    order = c->keysort;
  }
  if (order < 0 || order > 3) throw_assert_failed();
  ObjectPointer iterator = CreateObject(stack, String(iterator_class_names[order]), nullptr, 0);
  auto* it = static_cast<Collection_Iterator*>(iterator.get_object());
  if (it->order != order) throw_assert_failed();
  // THIS is the collection (the slot above the arguments, none here).
  Object* self = stack->method_context.object;
  if (self == nullptr || self->control == nullptr) throw_assert_failed();
  {
    std::unique_lock<std::shared_mutex> lock(it->property_lock);
    it->collection.set(self);
    it->native = c;
  }
  result->set(iterator);
}

template <int Order>
Object* new_iterator(VmStack*, Class* cls) {
  QZ_TRACE;
  return new Collection_Iterator(cls, Order);
}

}  // namespace

const native_member_def_st collection_members[] = {
    {"[]", 1, item_access, item_assign, nullptr},
    {"Count", 1, count, nullptr, nullptr},
    {"KeySort", 1, keysort_access, keysort_assign, nullptr},
    {"Add", 1, nullptr, nullptr, add},
    {"GetKey", 1, nullptr, nullptr, getkey},
    {"Item", 1, nullptr, nullptr, item_access},
    {"Remove", 1, nullptr, nullptr, remove},
    {"get_enumerator", 1, nullptr, nullptr, get_enumerator},
    {nullptr, 0, nullptr, nullptr, nullptr},
};

const native_member_def_st collection_iterator_members[] = {
    {"Key", 1, iterator_key, nullptr, nullptr},
    {"Value", 1, iterator_value, nullptr, nullptr},
    {"MoveNext", 1, nullptr, nullptr, iterator_movenext},
    {nullptr, 0, nullptr, nullptr, nullptr},
};

Object* new_collection(VmStack*, Class* cls) {
  QZ_TRACE;
  return new Collection_Object(cls);
}

Object* new_forward_index_iterator(VmStack* stack, Class* cls) {
  QZ_TRACE;
  return new_iterator<FORWARD_INDEX>(stack, cls);
}
Object* new_reverse_index_iterator(VmStack* stack, Class* cls) {
  QZ_TRACE;
  return new_iterator<REVERSE_INDEX>(stack, cls);
}
Object* new_forward_key_iterator(VmStack* stack, Class* cls) {
  QZ_TRACE;
  return new_iterator<FORWARD_KEY>(stack, cls);
}
Object* new_reverse_key_iterator(VmStack* stack, Class* cls) {
  QZ_TRACE;
  return new_iterator<REVERSE_KEY>(stack, cls);
}

}  // namespace qzbase
