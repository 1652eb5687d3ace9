// exception_object.cpp - the native class "Exception".
#include "objects/exception_object.h"

#include <exception>
#include <mutex>
#include <new>
#include <shared_mutex>

#include "objects/class.h"
#include "vm/exception_objects.h"
#include "vm/vm_stack.h"

namespace qzbase {

Exception_Object::Exception_Object(Class* cls) : Object(cls) {
  QZ_TRACE;
  error_no.set_integer(0);
  message.set_string(String());
  detail.set_string(String());
}

Exception_Object::Exception_Object(Class* cls, int code, const String& msg, const String& det) : Object(cls) {
  QZ_TRACE;
  // The three values are new and empty: filled in place.
  error_no.integer.value = code;
  error_no.tag = VT_INTEGER;
  new (&message.string) String(msg);
  message.tag = VT_STRING;
  new (&detail.string) String(det);
  detail.tag = VT_STRING;
}

// Every caught error makes one of these and lets it go. The number and the texts hold no object
// and go with the object itself; only UserValue may hold something whose release runs code.
void Exception_Object::destroy(VmStack* stack) {
  QZ_TRACE;
  std::exception_ptr first;
  // What the base part releases: added properties (there are none until one is added) and the
  // entry in the class's instance list (which a handler's exception never has).
  if (!made_for_handler || has_own_members()) {
    try {
      Object::destroy(stack);
    } catch (...) {
      first = std::current_exception();
    }
  }
  if (user_value.tag >= VT_STRING) {
    Variant taken;
    {
      std::unique_lock<std::shared_mutex> lock(property_lock);
      taken = std::move(user_value);
    }
    try {
      taken.release(stack);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

void Exception_Object::set_error(int code, const String& msg, const String& det) {
  QZ_TRACE;
  Variant n, m, d;
  n.set_integer(code);
  m.set_string(msg);
  d.set_string(det);
  std::unique_lock<std::shared_mutex> lock(property_lock);
  error_no = std::move(n);
  message = std::move(m);
  detail = std::move(d);
}

void Exception_Object::set_user_value(const Variant& value) {
  QZ_TRACE;
  Variant copy(value);
  Variant old;
  {
    std::unique_lock<std::shared_mutex> lock(property_lock);
    old = std::move(user_value);
    user_value = std::move(copy);
  }
  old.release(nullptr);
}

namespace {

template <Variant Exception_Object::*Field>
void exception_read(VmStack* stack, size_t nargs, Variant* result) {
  QZ_TRACE;
  if (nargs != 0) throw RuntimeError(11);
  auto* self = static_cast<Exception_Object*>(stack->method_context.owner);
  std::shared_lock<std::shared_mutex> lock(self->property_lock);
  (self->*Field).copy(result);
}

}  // namespace

const native_member_def_st exception_members[] = {
    {"ErrorNo", 1, exception_read<&Exception_Object::error_no>, nullptr, nullptr},
    {"Message", 1, exception_read<&Exception_Object::message>, nullptr, nullptr},
    {"Detail", 1, exception_read<&Exception_Object::detail>, nullptr, nullptr},
    {"UserValue", 1, exception_read<&Exception_Object::user_value>, nullptr, nullptr},
    {nullptr, 0, nullptr, nullptr, nullptr},
};

Object* new_exception(VmStack*, Class* cls) {
  QZ_TRACE;
  return new Exception_Object(cls);
}

namespace {

// What the handler search, THROW and the re-raise of TRY do to exception objects
// (vm/exception_objects.h).
Exception_Object* made_exception(const ObjectPointer& object) {
  auto* exception = dynamic_cast<Exception_Object*>(object.get_object());
  if (exception == nullptr) throw_assert_failed();
  return exception;
}

// Hands a new exception to out as its first and only reference.
void hand_over(Exception_Object* exception, Variant* out) {
  try {
    out->set_new_object(exception);
  } catch (...) {
    delete exception;
    throw;
  }
}

// The built-in "exception" class of the stack's runtime, looked up by name once per stack: every
// caught error makes an object of it. Null for a stack without the built-in library.
Class* builtin_exception_class(VmStack* stack) {
  Runtime* runtime = stack->get_runtime();
  const Library* library = runtime != nullptr ? runtime->builtin_library() : nullptr;
  if (library == nullptr) return nullptr;
  if (stack->exception_class_library != library) {
    const String name("exception");
    Class* cls = GetClass(stack, &name);
    if (cls->factory != new_exception) throw_assert_failed();
    stack->exception_class = cls;
    stack->exception_class_library = library;
  }
  return stack->exception_class;
}

void exception_for_error(VmStack* stack, int code, const String& message, const String& detail, Variant* out) {
  if (Class* cls = builtin_exception_class(stack)) {
    auto* exception = new Exception_Object(cls, code, message, detail);
    exception->made_for_handler = true;
    hand_over(exception, out);
    return;
  }
  ObjectPointer object = CreateObject(stack, String("exception"), nullptr, 0);
  made_exception(object)->set_error(code, message, detail);
  out->set(object);
}

void exception_for_value(VmStack* stack, const Variant& value, Variant* out) {
  if (Class* cls = builtin_exception_class(stack)) {
    auto* exception = new Exception_Object(cls);
    exception->made_for_handler = true;
    try {
      exception->set_user_value(value);
    } catch (...) {
      delete exception;
      throw;
    }
    hand_over(exception, out);
    return;
  }
  ObjectPointer object = CreateObject(stack, String("exception"), nullptr, 0);
  made_exception(object)->set_user_value(value);
  out->set(object);
}

ExceptionContent exception_content(const Variant& value, RuntimeError* error) {
  auto* exception = value.tag == VT_OBJECT ? dynamic_cast<Exception_Object*>(value.object.object) : nullptr;
  if (exception == nullptr) return EXCEPTION_NONE;
  if (exception->error_no.tag != VT_INTEGER || exception->error_no.integer.value == 0) return EXCEPTION_VALUE;
  *error = RuntimeError(static_cast<int>(exception->error_no.integer.value),
                        exception->detail.tag == VT_STRING ? exception->detail.string : String());
  if (exception->message.tag == VT_STRING) error->message = exception->message.string;
  return EXCEPTION_ERROR;
}

[[maybe_unused]] const bool exception_hooks_installed = [] {
  exception_hooks = exception_hooks_st{exception_for_error, exception_for_value, exception_content};
  return true;
}();

}  // namespace

}  // namespace qzbase
