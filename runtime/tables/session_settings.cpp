// session_settings.cpp - the default SET values of a data session.
#include "tables/session_settings.h"

namespace qzbase {

namespace {

// Constant-initialized: no guard on the read path, ready before any static constructor runs.
constinit const SessionSettings kDefaults{};

}  // namespace

const SessionSettings& default_session_settings() {
  QZ_TRACE;
  return kDefaults;
}

}  // namespace qzbase
