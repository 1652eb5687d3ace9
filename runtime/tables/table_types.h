// table_types.h - the small enumerations shared by the table object, the table-handle interface
// and the index layer.
#pragma once

namespace qzbase {

// The direction of a seek or an order: the selected order's own direction, ascending keys,
// descending keys.
enum SeekDir : int { SEEK_DIR_SELECTED = 0, SEEK_DIR_FORWARD = 1, SEEK_DIR_BACKWARD = 2 };

// Bit set of a seek's or a scope's bound. Bit 0: keys equal to the bound are inside the range.
// Bit 1: the range is open towards the end (a seek sets no upper bound). 0 as a scope mode: no
// bound. For the B-tree search bit 1 alone makes the bound exclusive; any other value is
// inclusive.
enum SeekRng : int { SEEK_RNG_NONE = 0, SEEK_RNG_EQUAL = 1, SEEK_RNG_OPEN = 2 };

// How a key is built from a value: for an exact comparison or as a prefix.
enum KeyOpt : int { KEY_OPT_EXACT = 1, KEY_OPT_PREFIX = 2 };

// What a record lock reports besides success: the locked record (re-read) fails the deleted,
// scope or filter test.
enum LockState : int { LOCK_STATE_IN_RANGE = 0, LOCK_STATE_OUT_OF_RANGE = 1 };

}  // namespace qzbase
