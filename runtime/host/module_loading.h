// module_loading.h - loading program files from source: read, compiled, linked.
#pragma once

#include <qzbase.h>

#include "values/string_keys.h"
#include "vm/module.h"

namespace qzbase {

// Loads a program file and everything it imports into a new domain, owned by the caller. Build
// errors are printed on the runtime's screen and thrown again.
ModuleDomain* load_module_domain(const String& path, VmStack* stack);
// Loads one file into a domain's map, or finds it there (IMPORT loads through this too).
void load_module_file(const String& path, const Module** out, VmStack* stack, string_key_map<Module*>* modules);

}  // namespace qzbase
