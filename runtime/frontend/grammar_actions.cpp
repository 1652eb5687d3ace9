// grammar_actions.cpp - the builders the grammar's actions call (grammar_actions.h).
#include "frontend/grammar_actions.h"

#include <iterator>

#include "values/julian.h"

namespace qzbase::grammar {

namespace {

// Year, month and day as written, or false when a field cannot be one.
bool qz_date_fields(int64_t year, int64_t month, int64_t day, int* y, unsigned* m, unsigned* d) {
  if (year < 0 || year > 2147483647 || month < 0 || month > 2147483647 || day < 0 || day > 2147483647) return false;
  *y = static_cast<int>(year);
  *m = static_cast<unsigned>(month);
  *d = static_cast<unsigned>(day);
  return true;
}

// True when the day number gives back the fields as written.
bool qz_date_round_trip(date_st date, int year, unsigned month, unsigned day) {
  int y = 0, m = 0, d = 0;
  unserial_julian_date(date, &y, &m, &d);
  return y == year && static_cast<unsigned>(m) == month && static_cast<unsigned>(d) == day;
}

}  // namespace

document_location_st qz_first_location(Scanner* scanner) {
  QZ_TRACE;
  document_location_st r{};
  if (scanner && scanner->current != scanner->end) r = qz_at_begin(scanner->current->location);
  return r;
}

void qz_action_failed(Scanner* scanner, QzparseCallback callback, void* data, const document_location_st& location,
                      uint32_t code) noexcept {
  QZ_TRACE;
  scanner->error_code = code;
  scanner->error_location = location;
  try {
    qz_diagnostic(callback, data, location);
  } catch (...) {
  }
}

void qz_destroy(value_class c, qzstype_st& v) noexcept {
  QZ_TRACE;
  switch (c) {
    case VC_OPERAND:
      delete OP(v);
      break;
    case VC_ITEM:
      delete ITEM(v);
      break;
    case VC_ITEMS:
      if (item_list_t* items = ITEMS(v)) {
        for (PathItem* item : *items) delete item;
        delete items;
      }
      break;
    case VC_OPERANDS:
      if (operand_list_t* operands = OPS(v)) {
        for (Operand* operand : *operands) delete operand;
        delete operands;
      }
      break;
    case VC_SLICES:
      break;  // the object word holds nothing or a plain integer
    case VC_STATEMENT:
      delete static_cast<Statement*>(v.object);
      break;
    case VC_OPTION:
      delete static_cast<Option*>(v.object);
      break;
    case VC_OPTIONS:
      delete static_cast<option_ptr_list*>(v.object);
      break;
    case VC_DEFINITION:
      delete static_cast<Definition*>(v.object);
      break;
    case VC_DEFINITIONS:
      if (auto* list = static_cast<definition_list_t*>(v.object)) {
        for (Definition* d : *list) delete d;
        delete list;
      }
      break;
    case VC_NAMED:
      delete static_cast<named_operand_st*>(v.object);
      break;
    case VC_COLUMN:
      delete static_cast<column_definition_st*>(v.object);
      break;
    case VC_COLUMNS:
      if (auto* list = static_cast<column_list_t*>(v.object)) {
        for (column_definition_st* c : *list) delete c;
        delete list;
      }
      break;
    case VC_DLL_PARAMETERS:
      if (auto* list = static_cast<dll_parameter_list_t*>(v.object)) {
        for (external_parameter_st* p : *list) delete p;
        delete list;
      }
      break;
    case VC_FRAGMENTS:
      delete static_cast<fragment_list_t*>(v.object);
      break;
    case VC_MACRO_ITEMS:
      delete static_cast<ptr_list<MacroItem>*>(v.object);
      break;
  }
  delete SL(v);
  v.object = nullptr;
  v.slices = nullptr;
}

void qz_append(slices_t* into, std::initializer_list<piece> pieces) {
  QZ_TRACE;
  for (const piece& p : pieces) {
    if (p.text) {
      if (p.text->size != 0 || p.text->begin != p.text->end) into->push_back(*p.text);
    } else if (slices_t* other = SL(*p.value)) {
      into->splice(into->end(), *other);
      delete other;
      p.value->slices = nullptr;
    }
  }
}

std::unique_ptr<slices_t> qz_slices(std::initializer_list<piece> pieces) {
  QZ_TRACE;
  std::unique_ptr<slices_t> s(new slices_t());
  qz_append(s.get(), pieces);
  return s;
}

String qz_text(const slices_t* s) {
  QZ_TRACE;
  if (!s || s->empty()) return String();
  const scan_string_st& first = s->front();
  const char* end = first.end;
  bool contiguous = true;
  for (auto it = std::next(s->begin()); it != s->end() && contiguous; ++it) {
    contiguous = it->begin == end && it->charset == first.charset;
    end = it->end;
  }
  if (!contiguous) return Scanner::join_scan_strings(*s);
  return String::create_from_scan_string(
      scan_string_st{first.begin, end, first.charset, static_cast<size_t>(end - first.begin)});
}

qzstype_st qz_not_equal(const document_location_st& location, const qzstype_st& left,
                        std::initializer_list<piece> middle, const qzstype_st& right) {
  QZ_TRACE;
  qzstype_st eq = qz_binary<Binary_Func_Eq>(location, left, middle, right);
  adopted owned;
  owned(VC_OPERAND, eq);
  Operand* node = new Unary_Func_Not(location, OP(eq));
  owned.commit();
  return qz_value(node, SL(eq));
}

qzstype_st qz_list_first(const qzstype_st& item) {
  QZ_TRACE;
  adopted owned;
  owned(VC_OPERAND, item);
  std::unique_ptr<operand_list_t> list(new operand_list_t());
  list->push_back(OP(item));
  owned.commit();
  return qz_value(list.release(), SL(item));
}

qzstype_st qz_list_comma(const document_location_st& comma, std::initializer_list<piece> tokens,
                         const qzstype_st* item) {
  QZ_TRACE;
  adopted owned;
  if (item) owned(VC_OPERAND, *item);
  operand_list_ptr list(new operand_list_t());
  std::unique_ptr<slices_t> s = qz_slices(tokens);
  if (item) qz_append(s.get(), {*item});
  std::unique_ptr<Operand> before(qz_omitted(qz_at_begin(comma)));
  std::unique_ptr<Operand> after(item ? nullptr : qz_omitted(qz_at_end(comma)));
  list->push_back(before.get());
  before.release();
  list->push_back(item ? OP(*item) : after.get());
  after.release();
  owned.commit();
  return qz_value(list.release(), s.release());
}

qzstype_st qz_list_append(const qzstype_st& list, const document_location_st& comma,
                          std::initializer_list<piece> tokens, const qzstype_st* item) {
  QZ_TRACE;
  adopted owned;
  owned(VC_OPERANDS, list);
  if (item) owned(VC_OPERAND, *item);
  qz_append(SL(list), tokens);
  if (item) {
    qz_append(SL(list), {*item});
    OPS(list)->push_back(OP(*item));
  } else {
    std::unique_ptr<Operand> omitted(qz_omitted(qz_at_end(comma)));
    OPS(list)->push_back(omitted.get());
    omitted.release();
  }
  owned.commit();
  return MUT(list);
}

qzstype_st qz_operand_list(const document_location_st& location, const qzstype_st& items) {
  QZ_TRACE;
  adopted owned;
  owned(VC_OPERANDS, items);
  Operand* node = new OperandList(location, OPS(items));  // adopts the list (and frees it)
  MUT(items).object = nullptr;
  owned.commit();
  return qz_value(node, SL(items));
}

qzstype_st qz_call(QzparseCallback callback, void* data, const document_location_st& location,
                   const scan_string_st& name, const document_location_st& parens, std::initializer_list<piece> tokens,
                   const qzstype_st* arguments) {
  QZ_TRACE;
  adopted owned;
  if (arguments) owned(VC_OPERAND, *arguments);
  std::unique_ptr<slices_t> s = qz_slices(tokens);
  String text = qz_name(name);
  std::unique_ptr<OperandList> args(arguments ? static_cast<OperandList*>(OP(*arguments)) : qz_empty_list(parens));
  if (arguments) owned.commit();
  std::unique_ptr<Call> call(new Call(location, text, args.get()));
  args.release();
  owned.commit();
  if (callback) callback(data, QZPARSE_EVENT_CALL, reinterpret_cast<intptr_t>(call.get()), location);
  return qz_value(call.release(), s.release());
}

qzstype_st qz_name_item(const document_location_st& location, const scan_string_st& name,
                        std::initializer_list<piece> tokens) {
  QZ_TRACE;
  std::unique_ptr<slices_t> s = qz_slices(tokens);
  PathItem* item = new NamePathItem(location, qz_name(name));
  return qz_value(item, s.release());
}

qzstype_st qz_item_list(const qzstype_st& item, std::initializer_list<piece> before) {
  QZ_TRACE;
  adopted owned;
  owned(VC_ITEM, item);
  std::unique_ptr<slices_t> s = qz_slices(before);
  qz_append(s.get(), {item});
  std::unique_ptr<item_list_t> list(new item_list_t());
  list->push_back(ITEM(item));
  owned.commit();
  return qz_value(list.release(), s.release());
}

qzstype_st qz_item_then_tail(const qzstype_st& item, std::initializer_list<piece> before,
                             std::initializer_list<piece> between, const qzstype_st& tail) {
  QZ_TRACE;
  adopted owned;
  owned(VC_ITEM, item)(VC_ITEMS, tail);
  std::unique_ptr<slices_t> s = qz_slices(before);
  qz_append(s.get(), {item});
  qz_append(s.get(), between);
  qz_append(s.get(), {tail});
  ITEMS(tail)->push_front(ITEM(item));
  MUT(item).object = nullptr;
  owned.commit();
  return qz_value(ITEMS(tail), s.release());
}

qzstype_st qz_path(const document_location_st& location, std::initializer_list<piece> before, const qzstype_st* root,
                   std::initializer_list<piece> between, const qzstype_st& chain, int32_t memvar) {
  QZ_TRACE;
  adopted owned;
  if (root) owned(VC_ITEM, *root);
  owned(VC_ITEMS, chain);
  std::unique_ptr<slices_t> s = qz_slices(before);
  if (root) qz_append(s.get(), {*root});
  qz_append(s.get(), between);
  qz_append(s.get(), {chain});
  if (root) {
    ITEMS(chain)->push_front(ITEM(*root));
    MUT(*root).object = nullptr;
  } else {
    std::unique_ptr<PathItem> with(new WithPathItem(qz_at_begin(location)));
    ITEMS(chain)->push_front(with.get());
    with.release();
  }
  Operand* path = new Path(location, ITEMS(chain), memvar);
  owned.commit();
  return qz_value(path, s.release());
}

qzstype_st qz_variable(const document_location_st& location, const scan_string_st& name,
                       std::initializer_list<piece> tokens, uint32_t memvar) {
  QZ_TRACE;
  std::unique_ptr<slices_t> s = qz_slices(tokens);
  Operand* node = new Variable(location, qz_name(name), memvar);
  return qz_value(node, s.release());
}

Operand* qz_date(QzparseCallback callback, void* data, const document_location_st& location, int64_t year,
                 int64_t month, int64_t day) {
  QZ_TRACE;
  date_st date{};
  int y = 0;
  unsigned m = 0, d = 0;
  bool valid = qz_date_fields(year, month, day, &y, &m, &d) && serial_julian_date(y, m, d, &date) == 0 &&
               qz_date_round_trip(date, y, m, d) && date.day <= kMaxDateDay;
  if (!valid) qz_diagnostic(callback, data, location);
  return new Const<date_st>(location, date);
}

Operand* qz_datetime(QzparseCallback callback, void* data, const document_location_st& location, int64_t year,
                     int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second) {
  QZ_TRACE;
  datetime_st datetime{};
  int y = 0;
  unsigned m = 0, d = 0;
  bool valid = qz_date_fields(year, month, day, &y, &m, &d) && hour >= 0 && minute >= 0 && second >= 0 &&
               hour <= 0xFFFFFFFFll && minute <= 0xFFFFFFFFll && second <= 0xFFFFFFFFll &&
               serial_julian_date(y, m, d, static_cast<unsigned>(hour), static_cast<unsigned>(minute),
                                  static_cast<unsigned>(second), &datetime) == 0 &&
               qz_date_round_trip(date_st{datetime.day}, y, m, d) && datetime.day <= kMaxDateDay;
  if (!valid) qz_diagnostic(callback, data, location);
  return new Const<datetime_st>(location, datetime);
}

qzstype_st qz_string(const document_location_st& location, const scan_string_st& open, const qzstype_st* text,
                     const scan_string_st& close) {
  QZ_TRACE;
  adopted owned;
  if (text) owned(VC_SLICES, *text);
  String value =
      text ? qz_text(SL(*text)) : String::create_from_scan_string(scan_string_st{open.end, open.end, open.charset, 0});
  std::unique_ptr<slices_t> s = qz_slices({open});
  if (text) qz_append(s.get(), {*text});
  qz_append(s.get(), {close});
  Operand* node = new Const_String(location, value);
  return qz_value(node, s.release());
}

void qz_report_operand(QzparseCallback callback, void* data, const qzstype_st& operand,
                       const document_location_st& location) {
  QZ_TRACE;
  adopted owned;
  owned(VC_OPERAND, operand);
  Operand* node = OP(operand);
  if (parser_slices_probe) parser_slices_probe(qz_text(SL(operand)));
  if (!callback) return;          // released by `owned`
  MUT(operand).object = nullptr;  // from here on the receiver's, even if it throws
  callback(data, QZPARSE_EVENT_OPERAND, reinterpret_cast<intptr_t>(node), location);
}

qzstype_st qz_text_constant(const document_location_st& location, const qzstype_st& value) {
  QZ_TRACE;
  Operand* node = new Const_String(location, qz_text(SL(value)));
  qzstype_st result = qz_value(node, SL(value));
  MUT(value).slices = nullptr;
  return result;
}

qzstype_st qz_source_text(const document_location_st& location, const qzstype_st& value) {
  QZ_TRACE;
  adopted dropped;
  dropped(VC_OPERAND, value);
  return qz_text_constant(location, value);
}

qzstype_st qz_flag(const char* name, const document_location_st& location) {
  QZ_TRACE;
  return qz_value(new Option(String(name), location), nullptr);
}

qzstype_st qz_valued(const char* name, const document_location_st& location, const qzstype_st& operand) {
  QZ_TRACE;
  adopted owned;
  owned(VC_OPERAND, operand);
  Option* option = new Option(String(name), location, OP(operand));
  owned.moved();
  return qz_value(option, nullptr);
}

qzstype_st qz_options_first(QzparseCallback callback, void* data, const qzstype_st& option) {
  QZ_TRACE;
  adopted owned;
  owned(VC_OPTION, option);
  std::unique_ptr<option_ptr_list> list(new option_ptr_list());
  Option* item = OPT(option);
  owned.moved();
  list->push(item, callback, data);
  return qz_value(list.release(), nullptr);
}

qzstype_st qz_options_push(QzparseCallback callback, void* data, const qzstype_st& list, const qzstype_st& option) {
  QZ_TRACE;
  adopted owned;
  owned(VC_OPTIONS, list)(VC_OPTION, option);
  option_ptr_list* options = OPTS(list);
  Option* item = OPT(option);
  owned.moved();
  std::unique_ptr<option_ptr_list> guard(options);
  options->push(item, callback, data);
  return qz_value(guard.release(), nullptr);
}

qzstype_st qz_command(QzparseCallback callback, void* data, const document_location_st& location, StatementTypes kind,
                      const qzstype_st* list, std::initializer_list<named_value> extra) {
  QZ_TRACE;
  adopted owned;
  if (list) owned(VC_OPTIONS, *list);
  for (const named_value& e : extra) {
    if (e.value) owned(VC_OPERAND, *e.value);
  }
  std::unique_ptr<option_ptr_list> fresh(list ? nullptr : new option_ptr_list());
  std::unique_ptr<BasicCommand> command(new BasicCommand(location, kind, list ? OPTS(*list) : fresh.get()));
  if (list) {
    MUT(*list).object = nullptr;
  } else {
    fresh.release();
  }
  for (const named_value& e : extra) {
    if (!e.name) continue;
    Option* option =
        e.value ? new Option(String(e.name), e.location, OP(*e.value)) : new Option(String(e.name), e.location);
    if (e.value) MUT(*e.value).object = nullptr;
    command->options->push(option, callback, data);
  }
  owned.moved();  // every object moved; only slices are left to free
  return qz_statement_value(command.release());
}

qzstype_st qz_definition(const qzstype_st& variable, const qzstype_st* dimensions, const qzstype_st* type) {
  QZ_TRACE;
  adopted owned;
  owned(VC_OPERAND, variable);
  if (dimensions) owned(VC_OPERAND, *dimensions);
  if (type) owned(VC_NAMED, *type);
  if (OP(variable)->kind == OPERAND_VARIABLE) static_cast<Variable*>(OP(variable))->memvar = 1;
  Definition* definition = new Definition(
      OP(variable), dimensions ? static_cast<OperandList*>(OP(*dimensions)) : nullptr, type ? NAMED(*type) : nullptr);
  owned.moved();
  return qz_value(definition, nullptr);
}

qzstype_st qz_column(uint32_t type_code, const qzstype_st& name, const qzstype_st* width, const qzstype_st* decimals,
                     const qzstype_st& attributes) {
  QZ_TRACE;
  adopted owned;
  owned(VC_OPERAND, name)(VC_OPTIONS, attributes);
  if (width) owned(VC_OPERAND, *width);
  if (decimals) owned(VC_OPERAND, *decimals);
  auto* column = new column_definition_st(type_code, OP(name), width ? OP(*width) : nullptr,
                                          decimals ? OP(*decimals) : nullptr, OPTS(attributes));
  owned.moved();
  return qz_value(column, nullptr);
}

qzstype_st qz_fragment(const qzstype_st* list, uint32_t kind, const scan_string_st& text) {
  QZ_TRACE;
  adopted owned;
  if (list) owned(VC_FRAGMENTS, *list);
  std::unique_ptr<fragment_list_t> fresh(list ? nullptr : new fragment_list_t());
  fragment_list_t* fragments = list ? static_cast<fragment_list_t*>(list->object) : fresh.get();
  fragments->push_back(macro_item_st{kind, text});
  fresh.release();
  owned.moved();
  return qz_value(fragments, nullptr);
}

void qz_report_statement(QzparseCallback callback, void* data, const qzstype_st& statement,
                         const document_location_st& location) {
  QZ_TRACE;
  adopted owned;
  owned(VC_STATEMENT, statement);
  Statement* node = STMT(statement);
  if (!callback) return;
  MUT(statement).object = nullptr;
  callback(data, QZPARSE_EVENT_STATEMENT, reinterpret_cast<intptr_t>(node), location);
}

}  // namespace qzbase::grammar
