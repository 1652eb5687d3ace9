// macro_item.h - the parts of a '&' macro-substituted line.
//
// The grammar collects the fragments of a macro line as macro_item_st records; the scanner's
// parse_macro_endl turns them into MacroItem objects (literal text, or a variable whose value is
// substituted at run time). Statement nodes hold and delete them; the compiler reads them.
#pragma once

#include <qzbase.h>

#include <cstdint>

namespace qzbase {

enum MacroItemKind : uint32_t {
  MACRO_ITEM_STRING = 'S',    // 83: literal text
  MACRO_ITEM_VARIABLE = 'V',  // 86: a variable name
};

// One fragment as the grammar collects it; points into the source and owns nothing.
struct macro_item_st {
  uint32_t kind;  // 'S' or 'V'
  scan_string_st text;
};

class MacroItem {
 public:
  MacroItem(uint32_t kind, const String& text) : kind(kind), text(text) {}
  virtual ~MacroItem();
  MacroItem(const MacroItem&) = delete;
  MacroItem& operator=(const MacroItem&) = delete;

  uint32_t kind;  // 'S' or 'V'
  String text;    // the literal text, or the variable's name
};

class StringMacroItem : public MacroItem {
 public:
  explicit StringMacroItem(const String& text) : MacroItem(MACRO_ITEM_STRING, text) {}
  ~StringMacroItem() override;
};

class VariableMacroItem : public MacroItem {
 public:
  explicit VariableMacroItem(const String& name) : MacroItem(MACRO_ITEM_VARIABLE, name) {}
  ~VariableMacroItem() override;
};

}  // namespace qzbase
