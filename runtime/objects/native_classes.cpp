// native_classes.cpp - "Custom" and "Empty".
#include "objects/native_classes.h"

#include <mutex>
#include <shared_mutex>

#include "values/value_text.h"
#include "vm/vm_stack.h"

namespace qzbase {

Custom_Object::Custom_Object(Class* cls)
    : Object(cls), comment(String::fromBytes("", 0, Charset::ascii)), name(cls->get_name()),
      tag(String::fromBytes("", 0, Charset::ascii)) {
  QZ_TRACE;
}

namespace {

// A property name as a template argument, so that each unavailable property is its own getter.
template <size_t N>
struct feature_name {
  char text[N];
  constexpr feature_name(const char (&s)[N]) {  // NOLINT: implicit on purpose
    for (size_t i = 0; i < N; ++i) text[i] = s[i];
  }
};

Custom_Object* self_of(VmStack* stack) { return static_cast<Custom_Object*>(stack->method_context.owner); }

void custom_class_name(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  result->set_string(stack->method_context.owner->cls->get_name());
}

void custom_class_library(VmStack*, size_t, Variant*) {
  QZ_TRACE;
  throw RuntimeError(1001);
}

template <feature_name Name>
void custom_unavailable(VmStack*, size_t, Variant*) {
  QZ_TRACE;
  throw RuntimeError(1001, String(Name.text));
}

template <int32_t Custom_Object::*Field>
void custom_read_int(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Custom_Object* self = self_of(stack);
  std::shared_lock<std::shared_mutex> lock(self->property_lock);
  result->set_integer(self->*Field);
}

template <int32_t Custom_Object::*Field>
void custom_write_int(VmStack* stack, size_t nargs) {
  QZ_TRACE;
  if (nargs != 1) throw RuntimeError(11);
  int32_t value = static_cast<int>(stack->sp[0].value);
  Custom_Object* self = self_of(stack);
  std::unique_lock<std::shared_mutex> lock(self->property_lock);
  self->*Field = value;
}

template <String Custom_Object::*Field>
void custom_read_text(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Custom_Object* self = self_of(stack);
  String copy;
  {
    std::shared_lock<std::shared_mutex> lock(self->property_lock);
    copy = self->*Field;
  }
  result->set_string(copy);
}

template <String Custom_Object::*Field>
void custom_write_text(VmStack* stack, size_t nargs) {
  QZ_TRACE;
  if (nargs != 1) throw RuntimeError(11);
  String value;
  variant_cast(stack->sp[0].value, &value);
  Custom_Object* self = self_of(stack);
  std::unique_lock<std::shared_mutex> lock(self->property_lock);
  self->*Field = value;
}

}  // namespace

// clang-format off
const native_member_def_st custom_members[] = {
    {"BaseClass", 1, custom_class_name, nullptr, nullptr},
    {"Class", 1, custom_class_name, nullptr, nullptr},
    {"ClassLibrary", 1, custom_class_library, nullptr, nullptr},
    {"Comment", 1, custom_read_text<&Custom_Object::comment>, custom_write_text<&Custom_Object::comment>, nullptr},
    {"ControlCount", 1, custom_unavailable<"ControlCount">, nullptr, nullptr},
    {"Controls", 1, custom_unavailable<"Controls">, nullptr, nullptr},
    {"Height", 1, custom_read_int<&Custom_Object::height>, custom_write_int<&Custom_Object::height>, nullptr},
    {"HelpContextID", 1, custom_read_int<&Custom_Object::help_context_id>,
     custom_write_int<&Custom_Object::help_context_id>, nullptr},
    {"Left", 1, custom_read_int<&Custom_Object::left>, custom_write_int<&Custom_Object::left>, nullptr},
    {"Name", 1, custom_read_text<&Custom_Object::name>, custom_write_text<&Custom_Object::name>, nullptr},
    {"Objects", 1, custom_unavailable<"Objects">, nullptr, nullptr},
    {"Parent", 1, custom_unavailable<"Parent">, nullptr, nullptr},
    {"ParentClass", 1, custom_unavailable<"ParentClass">, nullptr, nullptr},
    {"Picture", 1, custom_unavailable<"Picture">, nullptr, nullptr},
    {"Tag", 1, custom_read_text<&Custom_Object::tag>, custom_write_text<&Custom_Object::tag>, nullptr},
    {"Top", 1, custom_read_int<&Custom_Object::top>, custom_write_int<&Custom_Object::top>, nullptr},
    {"WhatsThisHelpID", 1, custom_read_int<&Custom_Object::whats_this_help_id>,
     custom_write_int<&Custom_Object::whats_this_help_id>, nullptr},
    {"Width", 1, custom_read_int<&Custom_Object::width>, custom_write_int<&Custom_Object::width>, nullptr},
    {nullptr, 0, nullptr, nullptr, nullptr},
};
// clang-format on

Object* new_custom(VmStack*, Class* cls) {
  QZ_TRACE;
  return new Custom_Object(cls);
}

Object* new_empty(VmStack*, Class* cls) {
  QZ_TRACE;
  return new Object(cls);
}

}  // namespace qzbase
