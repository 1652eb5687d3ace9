// class_registry.cpp - the factories of the classes the virtual machine builds itself.
#include "objects/class_registry.h"

#include <cstring>
#include <string>

#include "objects/exception_object.h"
#include "objects/object.h"
#include "tables/data_session.h"

namespace qzbase {

namespace {

const native_class_st kNativeClasses[] = {
    {"SESSION", new_datasession},
    {"EXCEPTION", new_exception},
};

}  // namespace

native_factory_type find_native_class(const String& name) {
  QZ_TRACE;
  String upper = name.upper();
  upper.convert(Charset::utf8, CON_NONE, 0);
  for (const native_class_st& row : kNativeClasses) {
    size_t n = std::strlen(row.name);
    if (upper.size() == n && std::memcmp(upper.read(), row.name, n) == 0) return row.factory;
  }
  return nullptr;
}

}  // namespace qzbase
