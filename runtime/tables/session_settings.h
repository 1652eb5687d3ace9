// session_settings.h - the SET values of a data session live with the values
// (values/session_settings.h), which read them; this name stays for the table code.
#pragma once

#include "values/session_settings.h"
