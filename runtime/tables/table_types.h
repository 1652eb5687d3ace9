// table_types.h - the small enumerations shared by the table object, the table-handle interface
// and the index layer: SeekDir, SeekRng, KeyOpt and LockState, which hosts see as well, are
// declared in the public header.
#pragma once

#include <qzbase.h>
