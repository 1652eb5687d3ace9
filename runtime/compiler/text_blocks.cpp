// text_blocks.cpp - TEXT ... ENDTEXT blocks and the \ and \\ text-merge lines.
#include "compiler/text_blocks.h"

#include <qzbase.h>

#include <list>
#include <memory>
#include <vector>

#include "compiler/build_input.h"
#include "compiler/declarations.h"
#include "compiler/expression_parts.h"
#include "vm/vm_op.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

enum MergeTag : long { TAG_LITERAL = 0, TAG_EXPRESSION = 1, TAG_LINE_BREAK = 2 };

struct merge_context_st {
  ptr_list<Operand>* out;
  BuildInput* input;
  const document_location_st* location;
  const char* consumed;    // the text before it is in the list already
  const char* open_begin;  // the "<<" of the open expression; null when none is open
  const char* open_end;    // just behind that "<<"
  int unparsed;
};

void append_pair(ptr_list<Operand>* out, const document_location_st& location, long tag, Operand* value) {
  std::unique_ptr<Operand> owned(value);
  out->push_back(new Const<long>(location, tag));
  out->push_back(owned.release());
}

void append_text(ptr_list<Operand>* out, const document_location_st& location, long tag, const String& text) {
  append_pair(out, location, tag, new Const_String(location, text));
}

void append_line_break(ptr_list<Operand>* out, const document_location_st& location) {
  append_text(out, location, TAG_LINE_BREAK, String("\n"));
}

// The operands of a built call: some are owned by it, the borrowed ones (the statement's own
// operands) are taken out again before it is destroyed.
class CallArguments {
 public:
  explicit CallArguments(const document_location_st& location) : location_(location) {}
  void borrow(Operand* operand) {
    borrowed_.push_back(items_.size());
    items_.push_back(operand);
  }
  void own(Operand* operand) { items_.push_back(operand); owned_.push_back(operand); }
  void own_all(ptr_list<Operand>& list) {
    for (Operand* operand : list) own(operand);
    list.release();
  }
  // A Call node of the arguments; the arguments that were borrowed are detached by `detach`.
  std::unique_ptr<Call> make_call(const char* name) {
    auto* list = new std::list<Operand*>(items_.begin(), items_.end());
    OperandList* arguments = nullptr;
    try {
      arguments = new OperandList(location_, list);
    } catch (...) {
      delete list;
      throw;
    }
    owned_.clear();  // now the list's
    try {
      return std::unique_ptr<Call>(new Call(location_, String(name), arguments));
    } catch (...) {
      for (size_t index : borrowed_) arguments->items[index] = nullptr;
      delete arguments;
      throw;
    }
  }
  void detach(Call* call) {
    for (size_t index : borrowed_) call->arguments->items[index] = nullptr;
  }
  Operand* const* items() const { return items_.data(); }
  uint64_t count() const { return items_.size(); }
  ~CallArguments() {
    for (Operand* operand : owned_) delete operand;
  }
  CallArguments(const CallArguments&) = delete;
  CallArguments& operator=(const CallArguments&) = delete;

 private:
  document_location_st location_;
  std::vector<Operand*> items_;
  std::vector<size_t> borrowed_;
  std::vector<Operand*> owned_;  // until a call takes them
};

// The target forms an assignment can write.
bool assignable(const Operand* target) {
  return target->kind == OPERAND_VARIABLE || target->kind == OPERAND_VARIABLE_WITH_INDEX ||
         target->kind == OPERAND_PATH;
}

// Compiles text (with the line's location as the statement location) into the pairs of one line,
// merged or literal.
void collect_line(VmStack* stack, const Cmd_Text* line, bool merging, bool report, ptr_list<Operand>* pairs,
                  CodePath& path) {
  if (merging) {
    const int unparsed = create_merge_list(stack, line->text, pairs, &line->location);
    if (unparsed > 0 && report) path.compiler->add_message(10, line->location);
  } else if (line->text.size() != 0) {
    append_text(pairs, line->location, TAG_LITERAL, line->text);
  }
}

}  // namespace

bool create_merge_list_callback(const String& text, const char* match, const char* match_end, size_t,
                                size_t delimiter_index, size_t, void* context) {
  QZ_TRACE;
  auto* c = static_cast<merge_context_st*>(context);
  if (delimiter_index == 0) {
    // A "<<" inside an open expression abandons it: that one stays literal.
    c->open_begin = match;
    c->open_end = match_end;
    return true;
  }
  if (c->open_begin == nullptr) return true;  // a lone ">>" is literal text
  const char* open_begin = c->open_begin;
  const char* open_end = c->open_end;
  c->open_begin = nullptr;
  c->open_end = nullptr;
  // Blanks around the expression (<< x >>) are layout, not part of it.
  String expression(text, open_end, match);
  expression.alltrim();
  std::unique_ptr<Operand> value;
  if (expression.size() == 0) {
    value.reset(new Const_String(*c->location, String(text, match, match)));
  } else {
    try {
      value.reset(c->input->parse_expression(expression));
    } catch (const RuntimeError&) {
    }
    // Not an expression, or one followed by more text (shell or markup text, say): the
    // delimiters and all stay literal.
    if (value == nullptr || value->location.end_byte != expression.size()) {
      ++c->unparsed;
      return true;
    }
  }
  if (open_begin != c->consumed) {
    append_text(c->out, *c->location, TAG_LITERAL, String(text, c->consumed, open_begin));
  }
  append_pair(c->out, *c->location, TAG_EXPRESSION, value.release());
  c->consumed = match_end;
  return true;
}

int create_merge_list(VmStack* stack, String text, ptr_list<Operand>* out, const document_location_st* at) {
  QZ_TRACE;
  static const char delimiters[] = "<<>>";
  const const_string_st needles[2] = {{delimiters, delimiters + 2, Charset::ascii},
                                      {delimiters + 2, delimiters + 4, Charset::ascii}};
  BuildInput input(stack);
  // Without a location the parts are placed like the parsed expressions: on line 1.
  const document_location_st location = at != nullptr ? *at : document_location_st{0, 0, 1, 1, 0, 0, 1, 1};
  merge_context_st context{out, &input, &location, text.read(), nullptr, nullptr, 0};
  size_t position = 0;
  text.scan(needles, 2, position, &create_merge_list_callback, &context);
  if (context.consumed != text.end()) {
    append_text(out, location, TAG_LITERAL, String(text, context.consumed, text.end()));
  }
  return context.unparsed;
}

int compile_text_options(const statement_list::const_iterator& end, statement_list::iterator& it,
                         CompiledCodeCollection* code, CodePath& path, uint32_t merge) {
  QZ_TRACE;
  const auto* text = static_cast<const BasicCommand*>(*it++);
  const Option* textmerge = text->options->find("TEXTMERGE");
  const Option* noshow = text->options->find("NOSHOW");
  const Option* to = text->options->find("TO");
  const Option* additive = text->options->find("ADDITIVE");
  const Option* pretext = text->options->find("PRETEXT");
  const bool merging = textmerge != nullptr || merge != 0;
  // A block that asks for merging reports expressions that do not parse, once (the version for
  // SET TEXTMERGE ON reports them).
  const bool report = textmerge != nullptr && merge != 0;

  ptr_list<Operand> pairs;
  bool first = true;
  while (statement_list::const_iterator(it) != end && (*it)->kind == STMT_TEXT_LINE) {
    const auto* line = static_cast<const Cmd_Text*>(*it++);
    if (!first) append_line_break(&pairs, line->location);
    first = false;
    collect_line(path.compiler->stack, line, merging, report, &pairs, path);
  }
  if (statement_list::const_iterator(it) != end && (*it)->kind == STMT_ENDTEXT) {
    ++it;
  } else if (merge != 0) {
    path.compiler->add_message(10, text->location);  // once, not for each version
  }

  CallArguments arguments(text->location);
  if (pretext != nullptr && pretext->value != nullptr) {
    arguments.borrow(pretext->value);
  } else {
    arguments.own(new Const<long>(text->location, 0));
  }
  arguments.own(new Const<long>(text->location, noshow != nullptr ? 0 : 1));
  arguments.own_all(pairs);
  std::unique_ptr<Call> call = arguments.make_call("stackcall_text");
  // The statement's operands leave the call before it is destroyed, also when compiling throws.
  struct detach_guard_st {
    CallArguments& arguments;
    Call* call;
    ~detach_guard_st() { arguments.detach(call); }
  } detach_guard{arguments, call.get()};

  StatementLocationScope scope(path.compiler, text->location);
  const Operand* target = to != nullptr ? to->value : nullptr;
  if (target == nullptr) {
    compiler_type_info_st type{0, false, -1};
    compiletime_compact_constexpr(call.get(), code, path, &type);
    code->push_back(text->location, new VmOpEspFree());
  } else if (!assignable(target)) {
    if (merge != 0) path.compiler->add_message(10, target->location);
  } else if (additive == nullptr) {
    compile_assign(target, call.get(), code, path);
  } else {
    // target = target + text; the sum owns neither side.
    struct borrowed_sum_st {
      Binary_Func_Add node;
      ~borrowed_sum_st() {
        node.left = nullptr;
        node.right = nullptr;
      }
    } sum{Binary_Func_Add(text->location, const_cast<Operand*>(target), call.get())};
    compile_assign(target, &sum.node, code, path);
  }
  return 0;
}

int compile_stmt_textmerge_block(const statement_list::const_iterator& end, statement_list::iterator& it,
                                 CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const statement_list::iterator text = it;
  AddressLabelRecord* on = path.compiler->create_addresslabel(String("textmerge on:"));
  AddressLabelRecord* done = path.compiler->create_addresslabel(String("end:"));
  code->push_back((*text)->location, new VmOpTestTextmergeOn());
  code->push_back((*text)->location, new VmOpCondTrueJump(on->key()));
  compile_text_options(end, it, code, path, 0);
  code->push_back((*text)->location, new VmOpJump(done->key()));
  code->place_label(on);
  statement_list::iterator again = text;
  compile_text_options(end, again, code, path, 1);
  code->place_label(done);
  return 0;
}

int compile_stmt_textmerge_operator(const statement_list::const_iterator&, statement_list::iterator& it,
                                    CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto* line = static_cast<const Cmd_Text*>(*it++);
  AddressLabelRecord* on = path.compiler->create_addresslabel(String("textmerge on:"));
  AddressLabelRecord* after = path.compiler->create_addresslabel(String("after textmerge:"));
  ptr_list<Operand> merged;
  create_merge_list(path.compiler->stack, line->text, &merged, &line->location);
  if (line->linefeed) append_line_break(&merged, line->location);

  code->push_back(line->location, new VmOpTestTextmergeOn());
  code->push_back(line->location, new VmOpCondTrueJump(on->key()));
  {
    ptr_list<Operand> plain;
    append_text(&plain, line->location, TAG_LITERAL, line->text);
    if (line->linefeed) append_line_break(&plain, line->location);
    std::vector<Operand*> items(plain.begin(), plain.end());
    compile_call_spec_void_core(line->location, items.data(), items.size(), "textmerge", code, path);
  }
  code->push_back(line->location, new VmOpJump(after->key()));
  code->place_label(on);
  {
    StatementLocationScope scope(path.compiler, line->location);
    std::vector<Operand*> items(merged.begin(), merged.end());
    compile_call_spec_void_core(line->location, items.data(), items.size(), "textmerge", code, path);
  }
  code->place_label(after);
  return 0;
}

}  // namespace qzbase
