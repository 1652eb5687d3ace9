// class_definition.cpp - what a class defined in source owns before and after linking.
#include "vm/class_definition.h"

#include "vm/execute.h"
#include "vm/program.h"

namespace qzbase {

class_definition_factory make_class_definition = nullptr;

ClassDefinition::~ClassDefinition() {
  for (auto& [symbol, method] : methods) delete method.function;
  for (class_initialiser_st& initialiser : initialisers) delete initialiser.program;
  delete parent_name;
}

bool ClassDefinition::add_method(symbol_id_type symbol, uint32_t visibility, UserFunction* function) {
  QZ_TRACE;
  return methods.emplace(symbol, user_method_st{visibility, function}).second;
}

}  // namespace qzbase
