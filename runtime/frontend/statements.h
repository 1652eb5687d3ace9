// statements.h - the syntax tree, part two: statements and commands.
//
// Every accepted source line becomes one Statement whose kind (a StatementTypes number) selects its
// statement compiler. Blocks are not nested: IF ... ENDIF and the like are separate statements of a
// flat list. Every pointer field owns what it points to and may be null unless said otherwise;
// destructors skip null children.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <list>
#include <map>

#include "frontend/macro_item.h"
#include "frontend/operands.h"
#include "frontend/parser_interface.h"
#include "frontend/ptr_list.h"
#include "frontend/syntax_tables.h"

namespace qzbase {

// ---------------------------------------------------------------------------------------------
// Statement
// ---------------------------------------------------------------------------------------------

class Statement {
 public:
  // A plain statement (SUSPEND, kind 107).
  Statement(const document_location_st& location, uint32_t kind) : kind(kind), location(location) {}
  virtual ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  uint32_t kind;  // a StatementTypes value
  document_location_st location;
};

// ---------------------------------------------------------------------------------------------
// Options of a command
// ---------------------------------------------------------------------------------------------

class Option {
 public:
  Option(const String& name, const document_location_st& location);  // a flag option
  Option(const String& name, const document_location_st& location, Operand* value);
  Option(const String& name, Operand* value);  // the location is the value's (value not null)
  ~Option();
  Option(const Option&) = delete;
  Option& operator=(const Option&) = delete;

  String name;  // as the grammar writes it, in upper case ("TO", "ADDITIVE", ...)
  document_location_st location;
  Operand* value;  // null for a flag option
};

// Orders option names case-insensitively (Collation::unicode_machine_ci).
struct option_name_less {
  bool operator()(const String& a, const String& b) const;
};

// The option set of one command: an ordered map, name -> Option, names compared without regard to
// case; each name at most once. Owns its options.
class option_ptr_list {
 public:
  using map_type = std::map<String, Option*, option_name_less>;

  option_ptr_list() = default;
  explicit option_ptr_list(Option* option);  // pushed without a callback
  ~option_ptr_list();
  option_ptr_list(const option_ptr_list&) = delete;
  option_ptr_list& operator=(const option_ptr_list&) = delete;

  // Adds an option. A name already present keeps the first option: the repetition is reported as
  // event 0 through callback (when context is not null) and the new option is destroyed.
  option_ptr_list* push(Option* option, QzparseCallback callback, void* context);

  // The option of that name (any letter case), or null.
  Option* find(const String& name) const;
  Option* find(const char* name) const;

  size_t size() const { return options_.size(); }
  bool empty() const { return options_.empty(); }
  map_type::const_iterator begin() const { return options_.begin(); }
  map_type::const_iterator end() const { return options_.end(); }

 private:
  map_type options_;
};

// ---------------------------------------------------------------------------------------------
// Records carried by declarations and table definitions
// ---------------------------------------------------------------------------------------------

// One declared name of PUBLIC, PRIVATE, LOCAL, DIMENSION, PARAMETERS, LPARAMETERS, HIDDEN,
// PROTECTED and of a FUNCTION's parameter list.
class Definition {
 public:
  Definition(Operand* variable, OperandList* dimensions, named_operand_st* type)
      : variable(variable), dimensions(dimensions), type(type) {}
  ~Definition();
  Definition(const Definition&) = delete;
  Definition& operator=(const Definition&) = delete;

  Operand* variable;         // the declared name: a Variable (memvar set by the grammar), or a
                             // Path for DIMENSION of an object's member array
  OperandList* dimensions;   // array dimensions, null for a plain variable
  named_operand_st* type;    // AS type [OF library], null when absent
};

// One column of CREATE TABLE, CREATE CURSOR and ALTER TABLE ADD COLUMN. The missing operands become
// Const_Null and the type code a Const<long>, all at the location of name.
struct column_definition_st {
  column_definition_st(uint32_t type_code, Operand* name, Operand* width, Operand* decimals,
                       option_ptr_list* options);
  column_definition_st(uint32_t type_code, Operand* name, Operand* width, option_ptr_list* options);
  column_definition_st(uint32_t type_code, Operand* name, option_ptr_list* options);
  ~column_definition_st();
  column_definition_st(const column_definition_st&) = delete;
  column_definition_st& operator=(const column_definition_st&) = delete;

  Operand* name;
  Operand* width;        // or a Const_Null
  Operand* decimals;     // or a Const_Null
  Const<long>* type_code;
  option_ptr_list* options;  // the column attributes
};

// One parameter of DECLARE: 8 bytes, handed unchanged to the native "declare" command.
struct external_parameter_st {
  uint32_t type;        // ExternalType
  uint8_t by_reference; // 1 when written with @
  uint8_t reserved[3];  // zero
};
static_assert(sizeof(external_parameter_st) == 8, "the DECLARE parameter entry is 8 bytes");

// ---------------------------------------------------------------------------------------------
// Statement classes
// ---------------------------------------------------------------------------------------------

// The native commands (and ENDDO, ENDSCAN, ENDTEXT, ENDWITH, FOR EACH, SCAN, TEXT). Ordinary form:
// an option list, no macro items. Macro form (SCAN with &): no option list, the line's macro items.
class BasicCommand : public Statement {
 public:
  // options must not be null (assert_failed_exception otherwise).
  BasicCommand(const document_location_st& location, StatementTypes kind, option_ptr_list* options);
  BasicCommand(const document_location_st& location, StatementTypes kind);  // new empty options
  BasicCommand(const document_location_st& location, StatementTypes kind,
               ptr_list<MacroItem>* macro_items);  // macro form
  ~BasicCommand() override;

  option_ptr_list* options;
  MacroItem** macro_items;  // null-terminated; null in the ordinary form
  uint64_t macro_item_count;
};

class Prep_Pragma : public Statement {
 public:
  Prep_Pragma(const document_location_st& location, const String& name, OperandList* arguments);
  ~Prep_Pragma() override;
  String name;
  OperandList* arguments;
};

class Cmd_Add_Column : public Statement {
 public:
  Cmd_Add_Column(const document_location_st& location, Operand* table, column_definition_st* column,
                 option_ptr_list* options);
  ~Cmd_Add_Column() override;
  Operand* table;
  column_definition_st* column;
  option_ptr_list* options;
};

class Cmd_Assign : public Statement {
 public:
  Cmd_Assign(const document_location_st& location, Operand* target, Operand* value);
  ~Cmd_Assign() override;
  Operand* target;  // null: evaluate value and discard the result
  Operand* value;
};

class Cmd_Case : public Statement {
 public:
  Cmd_Case(const document_location_st& location, Operand* condition);
  ~Cmd_Case() override;
  Operand* condition;
};

class Cmd_CatchTo : public Statement {
 public:
  Cmd_CatchTo(const document_location_st& location, Operand* variable, Operand* when);
  // CATCH TO &name: the variable's name is the text of the variable macro_variable when it runs.
  Cmd_CatchTo(const document_location_st& location, Operand* when, const String& macro_variable);
  ~Cmd_CatchTo() override;
  Operand* variable;  // null without TO, and in the macro form
  Operand* when;      // a Const<bool> true without WHEN (made by the grammar)
  String macro_variable;  // empty but in the macro form
};

class Cmd_Create_Table : public Statement {
 public:
  // Creates column_count (a Const<long> with the number of columns, at the location of table).
  Cmd_Create_Table(const document_location_st& location, uint32_t cursor, Operand* table,
                   option_ptr_list* options, std::list<column_definition_st*>* columns);
  ~Cmd_Create_Table() override;
  uint32_t cursor;  // 1 CREATE CURSOR, 0 CREATE TABLE
  Operand* table;
  option_ptr_list* options;
  Const<long>* column_count;
  std::list<column_definition_st*>* columns;
};

class Cmd_DeclareDll : public Statement {
 public:
  // Copies each heap entry of the list into an exact-size array and frees the cells and the list;
  // a null list gives a null array and count 0.
  Cmd_DeclareDll(const document_location_st& location, uint32_t return_type,
                 const String& function_name, Operand* library,
                 std::list<external_parameter_st*>* parameters);
  ~Cmd_DeclareDll() override;
  uint32_t return_type;  // ExternalType, 0 when none was written
  String function_name;
  Operand* library;
  external_parameter_st* parameter_types;  // parameter_count entries, no terminator
  uint64_t parameter_count;
};

class Cmd_Define : public Statement {
 public:
  Cmd_Define(const document_location_st& location, const String& name, named_operand_st* parent,
             uint32_t olepublic);
  ~Cmd_Define() override;
  String name;
  named_operand_st* parent;
  uint32_t olepublic;
};

class Cmd_Drop_Column : public Statement {
 public:
  Cmd_Drop_Column(const document_location_st& location, Operand* table, Operand* column);
  ~Cmd_Drop_Column() override;
  Operand* table;
  Operand* column;
};

// Cmd_DoWhile and Cmd_If: either a condition (ordinary form, no items) or the macro items of the
// line (macro form, condition null).
#define QZ_CONDITION_CLASS(NAME)                                                      \
  class NAME : public Statement {                                                     \
   public:                                                                            \
    NAME(const document_location_st& location, Operand* condition);                   \
    NAME(const document_location_st& location, ptr_list<MacroItem>* macro_items);     \
    ~NAME() override;                                                                 \
    Operand* condition;                                                               \
    MacroItem** macro_items;                                                          \
    uint64_t macro_item_count;                                                        \
  };

QZ_CONDITION_CLASS(Cmd_DoWhile)
QZ_CONDITION_CLASS(Cmd_If)

#undef QZ_CONDITION_CLASS

class Cmd_Incomplete : public Statement {
 public:
  Cmd_Incomplete(const document_location_st& location, ptr_list<MacroItem>* macro_items,
                 uint32_t kind);
  ~Cmd_Incomplete() override;
  MacroItem** macro_items;
  uint64_t macro_item_count;
};

class Cmd_Echo : public Statement {
 public:
  Cmd_Echo(const document_location_st& location, OperandList* values, int32_t linefeed);
  ~Cmd_Echo() override;
  OperandList* values;
  uint32_t linefeed;  // true for ?, false for ??
};

class Cmd_External_Array : public Statement {
 public:
  Cmd_External_Array(const document_location_st& location, OperandList* names);
  ~Cmd_External_Array() override;
  OperandList* names;
};

class Cmd_For : public Statement {
 public:
  // A null step becomes a Const<long> 1 at the statement's location.
  Cmd_For(const document_location_st& location, Operand* variable, Operand* from, Operand* to,
          Operand* step);
  ~Cmd_For() override;
  Operand* variable;
  Operand* from;
  Operand* to;
  Operand* step;
};

class Cmd_Function : public Statement {
 public:
  Cmd_Function(const document_location_st& location, const String& name,
               std::list<Definition*>* parameters, uint32_t visibility, named_operand_st* return_type);
  ~Cmd_Function() override;
  String name;
  std::list<Definition*>* parameters;  // null when no parameter was declared
  uint32_t visibility;                 // 1 plain, 2 PROTECTED, 4 HIDDEN
  named_operand_st* return_type;
};

class Cmd_Import_Library : public Statement {
 public:
  Cmd_Import_Library(const document_location_st& location, Operand* library);
  ~Cmd_Import_Library() override;
  Operand* library;
};

class Cmd_Private_Pattern : public Statement {
 public:
  Cmd_Private_Pattern(const document_location_st& location, const String& like_pattern,
                      const String& except_pattern);
  ~Cmd_Private_Pattern() override;
  String like_pattern;
  String except_pattern;
};

class Cmd_Return : public Statement {
 public:
  Cmd_Return(const document_location_st& location, Operand* value);
  ~Cmd_Return() override;
  Operand* value;
};

class Cmd_Store : public Statement {
 public:
  Cmd_Store(const document_location_st& location, Operand* value, OperandList* targets);
  ~Cmd_Store() override;
  OperandList* targets;
  Operand* value;
};

class Cmd_Text : public Statement {
 public:
  Cmd_Text(const document_location_st& location, uint32_t linefeed, const String& text);
  ~Cmd_Text() override;
  uint32_t linefeed;  // 1 for a TEXT block line and a \ line, 0 for a \\ line
  String text;
};

class Cmd_With : public Statement {
 public:
  Cmd_With(const document_location_st& location, Operand* object);
  ~Cmd_With() override;
  Operand* object;
};

// The declarations: a heap list of Definition, owned with its records.
#define QZ_DECLARATION_CLASS(NAME)                                                    \
  class NAME : public Statement {                                                     \
   public:                                                                            \
    NAME(const document_location_st& location, std::list<Definition*>* definitions);  \
    ~NAME() override;                                                                 \
    std::list<Definition*>* definitions;                                              \
  };

QZ_DECLARATION_CLASS(Cmd_Public)
QZ_DECLARATION_CLASS(Cmd_Private_VarList)
QZ_DECLARATION_CLASS(Cmd_Local)
QZ_DECLARATION_CLASS(Cmd_Dimension)
QZ_DECLARATION_CLASS(Cmd_Parameters)
QZ_DECLARATION_CLASS(Cmd_LParameters)
QZ_DECLARATION_CLASS(Cmd_Hidden)
QZ_DECLARATION_CLASS(Cmd_Protected)

#undef QZ_DECLARATION_CLASS

// Markers: the kind and the location are all they carry. Every statement class derives directly
// from Statement; the macros only save repeating identical declarations.
#define QZ_MARKER_CLASS(NAME, KIND)                                                   \
  class NAME : public Statement {                                                     \
   public:                                                                            \
    explicit NAME(const document_location_st& location) : Statement(location, KIND) {} \
    ~NAME() override;                                                                 \
  };

QZ_MARKER_CLASS(Cmd_Loop, STMT_LOOP)
QZ_MARKER_CLASS(Cmd_Exit, STMT_EXIT)
QZ_MARKER_CLASS(Cmd_EndFor, STMT_ENDFOR)
QZ_MARKER_CLASS(Cmd_Enddefine, STMT_ENDDEFINE)
QZ_MARKER_CLASS(Cmd_Endfunc, STMT_ENDFUNC)
QZ_MARKER_CLASS(Cmd_Else, STMT_ELSE)
QZ_MARKER_CLASS(Cmd_Endif, STMT_ENDIF)
QZ_MARKER_CLASS(Cmd_DoCase, STMT_DOCASE)
QZ_MARKER_CLASS(Cmd_Otherwise, STMT_OTHERWISE)
QZ_MARKER_CLASS(Cmd_EndCase, STMT_ENDCASE)
QZ_MARKER_CLASS(Cmd_Try, STMT_TRY)
QZ_MARKER_CLASS(Cmd_Finally, STMT_FINALLY)
QZ_MARKER_CLASS(Cmd_Endtry, STMT_ENDTRY)

#undef QZ_MARKER_CLASS

// Never produced by the grammar (kind 0); its record is free and read by nobody.
struct invalid_statement_diagnostic_st {
  uint32_t code;
  document_location_st location;
};

class Invalid_Statement : public Statement {
 public:
  Invalid_Statement(const document_location_st& location,
                    const invalid_statement_diagnostic_st& diagnostic)
      : Statement(location, STMT_INVALID), diagnostic(diagnostic) {}
  ~Invalid_Statement() override;
  invalid_statement_diagnostic_st diagnostic;
};

}  // namespace qzbase
