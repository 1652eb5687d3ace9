// grammar_actions.h - what the grammar's actions build with: the value classes of the grammar
// symbols and their release, the adoption guard that frees an action's inputs when it throws,
// token-slice lists, and the builders of operands, statements, options and records. Only the
// generated parser (grammar.y) includes this.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <list>
#include <memory>
#include <new>
#include <utility>

#include "frontend/parser.h"
#include "frontend/parser_interface.h"
#include "frontend/scanner.h"
#include "frontend/statements.h"

namespace qzbase::grammar {

using slices_t = scan_string_list_st;
using item_list_t = std::list<PathItem*>;
using operand_list_t = std::list<Operand*>;

// --- Locations ---------------------------------------------------------------------------------

inline document_location_st qz_span(const document_location_st& first, const document_location_st& last) {
  document_location_st r = first;
  r.end_char = last.end_char;
  r.end_byte = last.end_byte;
  r.end_line = last.end_line;
  r.end_column = last.end_column;
  return r;
}

inline document_location_st qz_at_end(const document_location_st& l) {
  document_location_st r = l;
  r.begin_char = l.end_char;
  r.begin_byte = l.end_byte;
  r.begin_line = l.end_line;
  r.begin_column = l.end_column;
  return r;
}

inline document_location_st qz_at_begin(const document_location_st& l) {
  document_location_st r = l;
  r.end_char = l.begin_char;
  r.end_byte = l.begin_byte;
  r.end_line = l.begin_line;
  r.end_column = l.begin_column;
  return r;
}

// A zero-width range at the first token of the scanner's range (zeros for an empty range).
document_location_st qz_first_location(Scanner* scanner);

// --- Events ------------------------------------------------------------------------------------

// Event 3: one syntax-colouring item (1 keyword, 2 operator, 3 constant, 4 comment).
inline void qz_syntax(QzparseCallback callback, void* data, int syntax_class, const document_location_st& location) {
  if (callback) callback(data, QZPARSE_EVENT_SYNTAX_CLASS, syntax_class, location);
}

// Event 0: a diagnostic that does not stop the parse; the pair holds the range twice.
inline void qz_diagnostic(QzparseCallback callback, void* data, const document_location_st& location) {
  if (!callback) return;
  document_location_st range[2] = {location, location};
  callback(data, QZPARSE_EVENT_DIAGNOSTIC, reinterpret_cast<intptr_t>(range), location);
}

// An action that threw: report the range (event 0) and leave an error in the scanner. The
// exception itself goes no further. Callbacks must not throw; one that does counts as here.
void qz_action_failed(Scanner* scanner, QzparseCallback callback, void* data, const document_location_st& location,
                      uint32_t code) noexcept;

// --- Ownership ---------------------------------------------------------------------------------

// Bison hands an action its right-hand values as const. They are the action's to consume (the
// parser never reads them again), so the helpers take them as const and clear, through MUT, what
// moved out of them.
inline qzstype_st& MUT(const qzstype_st& v) { return const_cast<qzstype_st&>(v); }

enum value_class {
  VC_OPERAND,
  VC_ITEM,
  VC_ITEMS,
  VC_OPERANDS,
  VC_SLICES,
  // the statement grammar's values
  VC_STATEMENT,
  VC_OPTION,
  VC_OPTIONS,
  VC_DEFINITION,
  VC_DEFINITIONS,
  VC_NAMED,
  VC_COLUMN,
  VC_COLUMNS,
  VC_DLL_PARAMETERS,
  VC_FRAGMENTS,
  VC_MACRO_ITEMS
};

using definition_list_t = std::list<Definition*>;
using column_list_t = std::list<column_definition_st*>;
using dll_parameter_list_t = std::list<external_parameter_st*>;
using fragment_list_t = std::list<macro_item_st>;

inline slices_t* SL(const qzstype_st& v) { return static_cast<slices_t*>(v.slices); }
inline Operand* OP(const qzstype_st& v) { return static_cast<Operand*>(v.object); }
inline PathItem* ITEM(const qzstype_st& v) { return static_cast<PathItem*>(v.object); }
inline item_list_t* ITEMS(const qzstype_st& v) { return static_cast<item_list_t*>(v.object); }
inline operand_list_t* OPS(const qzstype_st& v) { return static_cast<operand_list_t*>(v.object); }
inline int64_t INT(const qzstype_st& v) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(v.object)); }

// Releases what a value owns by its class and clears the two words.
void qz_destroy(value_class c, qzstype_st& v) noexcept;

// Adopts the values an action consumes: until commit(), leaving the scope destroys them.
class adopted {
 public:
  adopted() = default;
  adopted(const adopted&) = delete;
  adopted& operator=(const adopted&) = delete;
  ~adopted() {
    for (int i = 0; i < count_; ++i) qz_destroy(classes_[i], *values_[i]);
  }
  adopted& operator()(value_class c, const qzstype_st& v) {
    QZ_ASSERT(count_ < kMax);  // an action adopting more values needs a larger kMax
    classes_[count_] = c;
    values_[count_] = &MUT(v);
    ++count_;
    return *this;
  }
  void commit() { count_ = 0; }
  // The adopted objects moved elsewhere: clears their object words and frees their slices.
  void moved() noexcept {
    for (int i = 0; i < count_; ++i) {
      delete SL(*values_[i]);
      values_[i]->object = nullptr;
      values_[i]->slices = nullptr;
    }
    count_ = 0;
  }

 private:
  static constexpr int kMax = 12;
  value_class classes_[kMax];
  qzstype_st* values_[kMax];
  int count_ = 0;
};

// --- Values ------------------------------------------------------------------------------------

inline qzstype_st qz_value(void* object, slices_t* slices) {
  qzstype_st v;
  v.text = scan_string_st{nullptr, nullptr, nullptr, 0};
  v.object = object;
  v.slices = slices;
  return v;
}

inline qzstype_st qz_int_value(int64_t value, slices_t* slices) {
  return qz_value(reinterpret_cast<void*>(static_cast<intptr_t>(value)), slices);
}

// --- Token slices ------------------------------------------------------------------------------

// One piece of a slice list: a token text (an empty text adds nothing), or a whole slice list
// that moves over (the value's slices word is cleared).
struct piece {
  piece(const scan_string_st& text) : text(&text), value(nullptr) {}     // NOLINT: implicit by design
  piece(const qzstype_st& value) : text(nullptr), value(&MUT(value)) {}  // NOLINT
  const scan_string_st* text;
  qzstype_st* value;
};

// Appends the pieces to `into` in order. The moved lists end up in `into` even when an
// allocation fails half-way, so whoever owns `into` and the values still owns every node.
void qz_append(slices_t* into, std::initializer_list<piece> pieces);

// A new slice list made of the pieces; the caller owns it.
std::unique_ptr<slices_t> qz_slices(std::initializer_list<piece> pieces);

// The text a slice list covers, joined. Slices that follow one
// another in one buffer and charset (the usual case) are taken as one piece of text.
String qz_text(const slices_t* s);

inline String qz_name(const scan_string_st& text) { return String::create_from_scan_string(text); }

// --- Builders used by several actions ----------------------------------------------------------

// left OPERATOR right, with the operator tokens in between. Both operands move into the node.
template <class Node>
qzstype_st qz_binary(const document_location_st& location, const qzstype_st& left, std::initializer_list<piece> middle,
                     const qzstype_st& right) {
  adopted owned;
  owned(VC_OPERAND, left)(VC_OPERAND, right);
  qz_append(SL(left), middle);
  qz_append(SL(left), {right});
  Operand* node = new Node(location, OP(left), OP(right));
  owned.commit();
  return qz_value(node, SL(left));
}

// A unary node over the operand, with the prefix tokens in front of its slices.
template <class Node>
qzstype_st qz_unary(const document_location_st& location, std::initializer_list<piece> prefix,
                    const qzstype_st& operand, std::initializer_list<piece> suffix = {}) {
  adopted owned;
  owned(VC_OPERAND, operand);
  std::unique_ptr<slices_t> s = qz_slices(prefix);
  qz_append(s.get(), {operand});
  qz_append(s.get(), suffix);
  Operand* node = new Node(location, OP(operand));
  owned.commit();
  return qz_value(node, s.release());
}

// `#`: a not over an equality, both at the comparison's range.
qzstype_st qz_not_equal(const document_location_st& location, const qzstype_st& left,
                        std::initializer_list<piece> middle, const qzstype_st& right);

// A heap list of operands that deletes its operands when it is dropped before being handed over.
struct operand_list_deleter {
  void operator()(operand_list_t* list) const {
    for (Operand* operand : *list) delete operand;
    delete list;
  }
};
using operand_list_ptr = std::unique_ptr<operand_list_t, operand_list_deleter>;

// A `Const<bool>` false standing for an omitted argument.
inline Operand* qz_omitted(const document_location_st& location) { return new Const<bool>(location, false); }

// The first entry of an expression or argument list.
qzstype_st qz_list_first(const qzstype_st& item);

// ',' [opt_blank item]: an omitted entry before the comma and, when given, the item after it (or
// a second omitted entry after the comma).
qzstype_st qz_list_comma(const document_location_st& comma, std::initializer_list<piece> tokens,
                         const qzstype_st* item);

// list opt_blank ',' [opt_blank item]: the item, or an omitted entry after the comma.
qzstype_st qz_list_append(const qzstype_st& list, const document_location_st& comma,
                          std::initializer_list<piece> tokens, const qzstype_st* item);

// An OperandList made of an item list.
qzstype_st qz_operand_list(const document_location_st& location, const qzstype_st& items);

// An empty OperandList (empty parentheses): count 0, an array holding null.
inline OperandList* qz_empty_list(const document_location_st& location) {
  std::unique_ptr<operand_list_t> empty(new operand_list_t());
  OperandList* list = new OperandList(location, empty.get());
  empty.release();
  return list;
}

// name ( [arguments] ) as a Call; event 5.
qzstype_st qz_call(QzparseCallback callback, void* data, const document_location_st& location,
                   const scan_string_st& name, const document_location_st& parens, std::initializer_list<piece> tokens,
                   const qzstype_st* arguments);

// A path item made from a name with an optional list (indexes or arguments); `empty_list` asks
// for an empty OperandList when no list is given.
template <class Item>
qzstype_st qz_named_item(const document_location_st& location, const scan_string_st& name,
                         std::initializer_list<piece> tokens, const qzstype_st* list, bool empty_list = false,
                         const document_location_st& parens = document_location_st{}) {
  adopted owned;
  if (list) owned(VC_OPERAND, *list);
  std::unique_ptr<slices_t> s = qz_slices(tokens);
  String text = qz_name(name);
  std::unique_ptr<OperandList> operands(list ? static_cast<OperandList*>(OP(*list))
                                             : (empty_list ? qz_empty_list(parens) : nullptr));
  if (list) owned.commit();
  PathItem* item = new Item(location, text, operands.get());
  operands.release();
  return qz_value(item, s.release());
}

// A NamePathItem from a name (also THIS and THISFORM).
qzstype_st qz_name_item(const document_location_st& location, const scan_string_st& name,
                        std::initializer_list<piece> tokens);

// A single path item made into a list of items.
qzstype_st qz_item_list(const qzstype_st& item, std::initializer_list<piece> before);

// An item followed by a tail of items.
qzstype_st qz_item_then_tail(const qzstype_st& item, std::initializer_list<piece> before,
                             std::initializer_list<piece> between, const qzstype_st& tail);

// A Path over a root item (or a WithPathItem when root is null) and the items of a chain.
qzstype_st qz_path(const document_location_st& location, std::initializer_list<piece> before, const qzstype_st* root,
                   std::initializer_list<piece> between, const qzstype_st& chain, int32_t memvar);

// A Variable from a name; memvar for the M. form.
qzstype_st qz_variable(const document_location_st& location, const scan_string_st& name,
                       std::initializer_list<piece> tokens, uint32_t memvar);

// A constant node over the slices of a literal.
inline qzstype_st qz_constant(Operand* node, std::unique_ptr<slices_t> slices) {
  return qz_value(node, slices.release());
}

// A date or datetime constant from its fields as written; a date that does not exist, or lies past
// the last day a date can hold, is reported (event 0) and the constant built all the same.
Operand* qz_date(QzparseCallback callback, void* data, const document_location_st& location, int64_t year,
                 int64_t month, int64_t day);

Operand* qz_datetime(QzparseCallback callback, void* data, const document_location_st& location, int64_t year,
                     int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second);

// A string constant from the text between its delimiters (null: the empty string); the
// delimiters join the slices around the text.
qzstype_st qz_string(const document_location_st& location, const scan_string_st& open, const qzstype_st* text,
                     const scan_string_st& close);

// The start forms: hand the operand to the receiver (event 2, with the range of the parsed
// operand), who owns it from then on; with no callback it is not reported and is released here.
void qz_report_operand(QzparseCallback callback, void* data, const qzstype_st& operand,
                       const document_location_st& location);

// --- Statements, options and records -------------------------------------------------------------

// Statement values, options, option lists, declared-variable records and the other records of the
// statement grammar carry no token slices unless said otherwise (the slices word may be null).

inline Statement* STMT(const qzstype_st& v) { return static_cast<Statement*>(v.object); }
inline Option* OPT(const qzstype_st& v) { return static_cast<Option*>(v.object); }
inline option_ptr_list* OPTS(const qzstype_st& v) { return static_cast<option_ptr_list*>(v.object); }
inline Definition* DEF(const qzstype_st& v) { return static_cast<Definition*>(v.object); }
inline named_operand_st* NAMED(const qzstype_st& v) { return static_cast<named_operand_st*>(v.object); }
inline column_definition_st* COLUMN(const qzstype_st& v) { return static_cast<column_definition_st*>(v.object); }

// A plain value: a Statement* as the statement symbols carry it.
inline qzstype_st qz_statement_value(Statement* statement) { return qz_value(statement, nullptr); }

// Builds a statement node from adopted values that all move into it.
template <class Node, class... Args>
qzstype_st qz_stmt(adopted& owned, Args&&... args) {
  Statement* statement = new Node(std::forward<Args>(args)...);
  owned.moved();
  return qz_statement_value(statement);
}

// A Const_String of the text a value's slices cover, at the location; the value keeps its object
// (the caller drops it) and hands over its slices.
qzstype_st qz_text_constant(const document_location_st& location, const qzstype_st& value);

// The same for a value that owns an operand: the operand is released once its text is taken.
qzstype_st qz_source_text(const document_location_st& location, const qzstype_st& value);

// A flag option.
qzstype_st qz_flag(const char* name, const document_location_st& location);

// A valued option; the operand moves into it.
qzstype_st qz_valued(const char* name, const document_location_st& location, const qzstype_st& operand);

// A new option list holding the option.
qzstype_st qz_options_first(QzparseCallback callback, void* data, const qzstype_st& option);

// The list plus the option (a repeated name is reported and the later option dropped).
qzstype_st qz_options_push(QzparseCallback callback, void* data, const qzstype_st& list, const qzstype_st& option);

// One option that a command action adds by itself: a flag when value is null; skipped when name is
// null.
struct named_value {
  const char* name;
  const qzstype_st* value;
  document_location_st location;
};

// A BasicCommand of the kind over the option list (a new empty one when list is null), with the
// named options pushed after the list's.
qzstype_st qz_command(QzparseCallback callback, void* data, const document_location_st& location, StatementTypes kind,
                      const qzstype_st* list, std::initializer_list<named_value> extra = {});

// Lists of owned records (declared names, column records): a new list, and the list plus an item.
template <class T>
qzstype_st qz_records_first(value_class item_class, const qzstype_st& item) {
  adopted owned;
  owned(item_class, item);
  std::unique_ptr<std::list<T*>> list(new std::list<T*>());
  list->push_back(static_cast<T*>(item.object));
  owned.moved();
  return qz_value(list.release(), nullptr);
}

template <class T>
qzstype_st qz_records_push(value_class list_class, const qzstype_st& list, value_class item_class,
                           const qzstype_st& item) {
  adopted owned;
  owned(list_class, list)(item_class, item);
  auto* records = static_cast<std::list<T*>*>(list.object);
  records->push_back(static_cast<T*>(item.object));
  owned.moved();
  return qz_value(records, nullptr);
}

// A declared-variable record; a declared Variable is marked as a memory variable.
qzstype_st qz_definition(const qzstype_st& variable, const qzstype_st* dimensions, const qzstype_st* type);

// A column record of CREATE TABLE, CREATE CURSOR and ADD COLUMN.
qzstype_st qz_column(uint32_t type_code, const qzstype_st& name, const qzstype_st* width, const qzstype_st* decimals,
                     const qzstype_st& attributes);

// An empty option list.
inline qzstype_st qz_no_options() { return qz_value(new option_ptr_list(), nullptr); }

// A DECLARE parameter travels as an integer: the type code, plus 256 when passed by reference.
inline qzstype_st qz_dll_parameter(int64_t type, bool by_reference) {
  return qz_int_value(type + (by_reference ? 256 : 0), nullptr);
}

// The raw text of a token-slice value as a String (the value keeps its slices).
inline String qz_slices_text(const qzstype_st& value) { return qz_text(SL(value)); }

// A macro fragment list: literal text ('S') and variable names ('V').
qzstype_st qz_fragment(const qzstype_st* list, uint32_t kind, const scan_string_st& text);

// The start forms of statement lines: hand the statement (null for a NOTE line) to the receiver
// (event 1), who owns it from then on; with no callback it is released here.
void qz_report_statement(QzparseCallback callback, void* data, const qzstype_st& statement,
                         const document_location_st& location);

}  // namespace qzbase::grammar
