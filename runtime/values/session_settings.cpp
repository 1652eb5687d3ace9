// session_settings.cpp - the default SET values of a data session.
#include "values/session_settings.h"

namespace qzbase {

namespace {

// Constant-initialized: no guard on the read path, ready before any static constructor runs.
constinit const SessionSettings kDefaults{};

const SessionSettings* no_settings(const VmStack*) { return nullptr; }
Runtime* no_runtime(const VmStack*) { return nullptr; }

}  // namespace

constinit stack_settings_fn stack_settings_hook = no_settings;
constinit stack_runtime_fn stack_runtime_hook = no_runtime;

const SessionSettings& default_session_settings() {
  QZ_TRACE;
  return kDefaults;
}

}  // namespace qzbase
