// table_fixture.h - a runtime, a stack and a temporary working directory for tests of table
// objects. Tables opened through use() stay referenced until the fixture ends.
#pragma once

#include <qzbase.h>

#include <vector>

#include "capture_screen.h"
#include "host/runtime.h"
#include "tables/table_dbf.h"
#include "temp_dir.h"
#include "vm/vm_stack.h"

namespace qzbase::testing_tables {

struct TableRuntime {
  TableRuntime() : runtime(CreateRuntime(&screen)), stack(new VmStack(runtime, 1024, 128)), cwd(dir.path) {}
  ~TableRuntime() {
    // The tables' class belongs to the runtime: they go first.
    held.clear();
    delete stack;
    ReleaseRuntime(runtime);
  }
  TableRuntime(const TableRuntime&) = delete;
  TableRuntime& operator=(const TableRuntime&) = delete;

  Table_Object_QzDbf* use(const char* name, bool shared = false, bool readonly = false) {
    held.push_back(Table_Object::use(stack, String(name), shared, readonly));
    return static_cast<Table_Object_QzDbf*>(held.back().get());
  }

  testing_screen::CaptureScreen screen;
  Runtime* runtime;
  VmStack* stack;
  testing_files::TempDir dir;
  testing_files::CwdGuard cwd;
  std::vector<ObjectPointer> held;
};

}  // namespace qzbase::testing_tables
