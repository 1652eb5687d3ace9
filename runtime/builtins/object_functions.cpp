// object_functions.cpp - the class lookup of the language and the object built-ins.
#include "builtins/object_functions.h"

#include <algorithm>
#include <map>
#include <memory>
#include <unordered_set>
#include <vector>

#include "builtins/library.h"
#include "compiler/build_input.h"
#include "frontend/operands.h"
#include "objects/map.h"
#include "objects/object.h"
#include "objects/user_class.h"
#include "values/object_ptr.h"
#include "values/value_text.h"
#include "vm/calls.h"
#include "vm/execute.h"
#include "vm/module.h"
#include "vm/program.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// The predefined symbol of the member FOR EACH asks an object for its iterator.
constexpr symbol_id_type symbol_GET_ENUMERATOR = 94;

String text_argument(VmStack* stack, size_t n) {
  String text;
  variant_cast(*Param(stack, n), &text);
  return text;
}

Object* object_argument(VmStack* stack, size_t n) { return static_cast<Object*>(*Param(stack, n)); }

symbol_id_type symbol_of(VmStack* stack, const String& name) {
  if (stack->symtable == nullptr) throw_assert_failed();
  return stack->symtable->symbolize(name);
}

// The members of an object's whole chain, each symbol once (the first met wins).
struct chain_member_st {
  symbol_id_type symbol;
  String name;
  uint32_t kind;
  uint32_t visibility;
};

int collect_member(void* context, Object*, symbol_id_type symbol, const ClassMember& member) {
  auto* out = static_cast<std::pair<std::unordered_set<symbol_id_type>, std::vector<chain_member_st>>*>(context);
  if (out->first.insert(symbol).second) {
    out->second.push_back(chain_member_st{symbol, member.name, member.kind, member.visibility});
  }
  return 0;
}

std::vector<chain_member_st> chain_members(Object* obj) {
  std::pair<std::unordered_set<symbol_id_type>, std::vector<chain_member_st>> found;
  obj->virtual_enum_properties(collect_member, &found);
  return std::move(found.second);
}

}  // namespace

Class* getclass(VmStack* stack, const String& name) {
  QZ_TRACE;
  if (stack->symtable == nullptr) return nullptr;
  symbol_id_type symbol = stack->symtable->symbolize(name);
  const Module* module = stack->frame != nullptr && stack->frame->program != nullptr
                             ? stack->frame->program->owner_module()
                             : nullptr;
  if (module != nullptr) {
    auto it = module->classes.find(symbol);
    if (it != module->classes.end()) return it->second->as_class();
  }
  Library* lib = stack->runtime != nullptr ? stack->runtime->builtin_library() : nullptr;
  return lib != nullptr ? lib->find_class(symbol) : nullptr;
}

// CREATEOBJECT(class [, init arguments ...]): the arguments after the class name go to INIT.
void bi_createobject(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc == 0) throw RuntimeError(11);
  Variant* name_argument = Param(stack, 1);
  if (name_argument->tag == VT_NULL) {
    result->set_null();
    return;
  }
  String name;
  variant_cast(*name_argument, &name);
  Class* cls = getclass(stack, name);
  if (cls == nullptr) throw RuntimeError(1733, name);
  createobject_internal(stack, cls, name_argument, static_cast<int>(argc - 1), result);
}

// NEWOBJECT(class [, module [, inApp [, init arguments ...]]]): with a module, the class is looked
// for in that module only.
void bi_newobject(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc == 0) throw RuntimeError(11);
  Variant* name_argument = Param(stack, 1);
  if (name_argument->tag == VT_NULL) {
    result->set_null();
    return;
  }
  String name = text_argument(stack, 1);
  if (argc >= 3) {
    const Variant* in_app = Param(stack, 3);
    if (in_app->tag != VT_NULL && !(in_app->tag == VT_STRING && in_app->string.size() == 0)) {
      throw RuntimeError(1001, String("inApp"));
    }
  }
  Class* cls = nullptr;
  if (argc >= 2 && Param(stack, 2)->tag != VT_NULL) {
    String file = text_argument(stack, 2);
    Runtime* runtime = stack->get_runtime();
    if (runtime == nullptr) throw_assert_failed();
    const Module* module = nullptr;
    runtime->load_module(file, stack, &module);
    if (module != nullptr) {
      auto it = module->classes.find(symbol_of(stack, name));
      if (it != module->classes.end()) cls = it->second->as_class();
    }
  } else {
    cls = getclass(stack, name);
  }
  if (cls == nullptr) throw RuntimeError(1733, name);
  // INIT takes the arguments after the third; the slot below them receives the object.
  size_t init_args = argc > 3 ? argc - 3 : 0;
  Variant* slot = Param(stack, argc - init_args);
  createobject_internal(stack, cls, slot, static_cast<int>(init_args), result);
}

// ADDPROPERTY(object, name [, value]): the name reads as an operand, so "arr(3)" adds an array.
void bi_addproperty(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  Object* obj = object_argument(stack, 1);
  String text = text_argument(stack, 2);
  token_list_type tokens;
  tokenize(text.read(), text.end(), text.get_charset(), &tokens);
  token_list_type::const_iterator end = tokens.cend();
  while (end != tokens.cbegin() && ((end - 1)->kind == TOKEN_BLANK || (end - 1)->kind == TOKEN_LINE_END)) --end;
  token_list_type::const_iterator it = tokens.cbegin();
  while (it != end && it->kind == TOKEN_BLANK) ++it;
  if (it == end) throw RuntimeError(11);  // no name at all
  BuildInput input(stack);
  std::unique_ptr<Operand> operand(input.parse_operand(it, end, false));
  ScopedValue value(stack);
  if (argc == 3) Param(stack, 3)->copy(&value.value);
  obj->addproperty(stack, operand.get(), argc == 3 ? &value.value : nullptr);
  result->set_true();
}

// REMOVEPROPERTY(object, name): only a property added at run time.
void bi_removeproperty(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  object_argument(stack, 1)->removeproperty(stack, text_argument(stack, 2));
  result->set_true();
}

// GETPEM(object, name): the member's value, read as the program would read it.
void bi_getpem(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Object* obj = object_argument(stack, 1);
  symbol_id_type symbol = symbol_of(stack, text_argument(stack, 2));
  ScopedValue value(stack);
  {
    PushedScope pushed(stack);
    Param(stack, 1)->copy(&stack->push()->value);
    obj->virtual_access(stack, symbol, 0, &value.value);
  }
  result->set_variant(&value.value);
}

// PEMSTATUS(object, name, attribute): 1 and 5 whether the member exists, 2 whether it is
// PROTECTED, 3 its kind.
void bi_pemstatus(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Object* obj = object_argument(stack, 1);
  symbol_id_type symbol = symbol_of(stack, text_argument(stack, 2));
  int64_t attribute = static_cast<long>(*Param(stack, 3));
  if (attribute != 1 && attribute != 2 && attribute != 3 && attribute != 5) throw RuntimeError(1001);
  const chain_member_st* found = nullptr;
  std::vector<chain_member_st> members = chain_members(obj);
  for (const chain_member_st& m : members) {
    if (m.symbol == symbol) {
      found = &m;
      break;
    }
  }
  switch (attribute) {
    case 2: result->set_bool(found != nullptr && found->visibility == VISIBLE_PROTECTED); return;
    case 3:
      if (found == nullptr) throw RuntimeError(11);
      switch (found->kind) {
        case MEMBER_PROPERTY: result->set_string(String("Property")); return;
        case MEMBER_METHOD: result->set_string(String("Method")); return;
        case MEMBER_EVENT: result->set_string(String("Event")); return;
        default: throw_assert_failed();
      }
    default: result->set_bool(found != nullptr); return;
  }
}

// AMEMBERS(array by reference, object [, flag]): the names in code-point order, each once; flag 1
// adds each member's kind in a second column.
void bi_amembers(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  Object* obj = object_argument(stack, 2);
  int64_t flag = argc >= 3 && Param(stack, 3)->tag != VT_NULL ? static_cast<long>(*Param(stack, 3)) : 0;
  if (flag != 0 && flag != 1) throw RuntimeError(11);
  std::vector<chain_member_st> members = chain_members(obj);
  if (flag == 0) {
    members.erase(std::remove_if(members.begin(), members.end(),
                                 [](const chain_member_st& m) { return m.kind != MEMBER_PROPERTY; }),
                  members.end());
  }
  std::stable_sort(members.begin(), members.end(), [](const chain_member_st& a, const chain_member_st& b) {
    return Collation::unicode_machine->compare(a.name.read(), a.name.end(), a.name.get_charset(), b.name.read(),
                                               b.name.end(), b.name.get_charset()) < 0;
  });
  // Names compare by their text: the same name spelt twice (two symbols cannot share one) is one.
  size_t n = members.size();
  if (n == 0) {
    result->set_integer(0);
    return;
  }
  Variant* target = Param(stack, 1);
  Array* array = target->dimension(stack, n, flag == 1 ? 2 : 0);
  for (size_t i = 0; i < n; ++i) {
    const chain_member_st& m = members[i];
    if (flag == 0) {
      Variant* item = array->write(stack, i + 1);
      item->release(stack);
      item->set_string(m.name);
      continue;
    }
    Variant* item = array->write(stack, i + 1, 1);
    item->release(stack);
    item->set_string(m.name);
    item = array->write(stack, i + 1, 2);
    item->release(stack);
    switch (m.kind) {
      case MEMBER_PROPERTY: item->set_string(String("PROPERTY")); break;
      case MEMBER_METHOD: item->set_string(String("METHOD")); break;
      case MEMBER_EVENT: item->set_string(String("EVENT")); break;
      default: item->set_null(); break;
    }
  }
  result->set_integer(static_cast<int>(n));
}

// DODEFAULT([arguments]): the compiler passes one slot more, first, which receives THIS.
void bi_dodefault(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  const method_context_st& context = stack->method_context;
  if (argc == 0 || context.owner == nullptr || context.owner->chained == nullptr) return;
  Variant* self_slot = Param(stack, 1);
  self_slot->release(stack);
  if (context.object != nullptr && context.object->control != nullptr) self_slot->set(context.object);
  call_parent_member(stack, argc - 1, result);
}

// GET_ENUMERATOR(value): an object's own iterator, or an iterator over an array's elements.
void bi_get_enumerator(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Variant* value = Param(stack, 1);
  if (value->tag == VT_OBJECT) {
    Object* obj = static_cast<Object*>(*value);
    ScopedValue iterator(stack);
    {
      PushedScope pushed(stack);
      value->copy(&stack->push()->value);
      obj->virtual_call(stack, symbol_GET_ENUMERATOR, 0, &iterator.value);
    }
    result->set_variant(&iterator.value);
    return;
  }
  if (value->tag == VT_ARRAY) {
    // The native class itself: a program's class of that name is not an array iterator.
    Library* lib = stack->runtime != nullptr ? stack->runtime->builtin_library() : nullptr;
    Class* cls = lib != nullptr ? lib->find_class(symbol_of(stack, String("ArrayIterator"))) : nullptr;
    if (cls == nullptr) throw_assert_failed();
    Object* made = nullptr;
    cls->create_instance(stack, &made);
    ObjectPointer iterator;
    try {
      iterator.attach(made);
    } catch (...) {
      delete made;
      throw;
    }
    auto* it = dynamic_cast<Array_Iterator_Object*>(made);
    if (it == nullptr) throw_assert_failed();
    value->copy(&it->array);  // shares the element block
    result->set(iterator);
    return;
  }
  throw RuntimeError(11);
}

void bi_get_qzobject_enumerator(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  bi_get_enumerator(stack, argc, result);
}

// INCREMENTREF(object) and DECREMENTREF(object): the strong count before the change, less the two
// references the call itself holds.
void bi_incrementref(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Variant* value = Param(stack, 1);
  if (value->tag != VT_OBJECT || value->object.control == nullptr) throw RuntimeError(11);
  uint64_t before = object_ptr_base::increment_strong(value->object.control);
  result->set_integer(static_cast<long>(before) - 2);
}

void bi_decrementref(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Variant* value = Param(stack, 1);
  if (value->tag != VT_OBJECT || value->object.control == nullptr) throw RuntimeError(11);
  object_ptr_st handle{value->object.control, value->object.object};
  uint64_t before = object_ptr_base::release_strong(&handle, stack);
  result->set_integer(static_cast<long>(before) - 2);
}

}  // namespace qzbase
