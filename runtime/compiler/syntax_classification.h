// syntax_classification.h - what an editor learns from reading a text without compiling it: the
// classified ranges, the ranges of macro lines split into macro items, and the location pairs of
// the build messages (BuildInput::classify_syntax).
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <vector>

namespace qzbase {

// Syntax classes of the classified ranges.
enum SyntaxClass : uint32_t {
  SYNTAX_KEYWORD = 1,
  SYNTAX_OPERATOR = 2,
  SYNTAX_CONSTANT = 3,
  SYNTAX_COMMENT = 4,
  SYNTAX_BUILTIN = 5,  // name of a built-in function; also the head of a directive line
  SYNTAX_MACRO = 6,    // a macro name that was replaced
  SYNTAX_INACTIVE = 7, // discarded or inactive text
};

// The result of one classification, owned by the caller. syntax_info_st and error_location_st
// are public (qzbase.h): hosts receive them through SyntaxFetchClassifications.
struct syntax_result_st {
  std::vector<syntax_info_st> syntax_items;
  std::vector<document_location_st> error_locations;  // macro lines split into macro items
  std::vector<error_location_st> message_locations;   // one per build message
};

}  // namespace qzbase
