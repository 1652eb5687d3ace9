// text_merge.cpp - the run-time side of TEXT blocks, the \ and \\ lines, SET TEXTMERGE and
// PRETEXT(): joining the (kind, value) pieces the compiler passes, and the PRETEXT rules.
#include "builtins/text_merge.h"

#include <list>
#include <memory>
#include <utility>
#include <vector>

#include "builtins/entry_points.h"
#include "vm/execute.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"
#include "values/value_text.h"

namespace qzbase {

namespace {

enum PieceKind : long { PIECE_LITERAL = 0, PIECE_EXPRESSION = 1, PIECE_LINE_END = 2 };

// SET TEXTMERGE option bits, in the order of the command's flag group.
enum TextmergeOption : long {
  TEXTMERGE_ON = 1,
  TEXTMERGE_OFF = 2,
  TEXTMERGE_SHOW = 4,
  TEXTMERGE_NOSHOW = 8,
  TEXTMERGE_ADDITIVE = 16,
  TEXTMERGE_TO = 32,
};

const Variant& argument(VmStack* stack, size_t n) {
  const Variant* v = Param(stack, n);
  return v->tag == VT_REFERENCE ? *v->reference.target : *v;
}

String piece_text(const Variant& v) {
  return variant_to_string(v.tag == VT_REFERENCE ? *v.reference.target : v);
}

long piece_kind(VmStack* stack, size_t n) {
  const Variant& kind = argument(stack, n);
  if (kind.tag != VT_INTEGER) throw RuntimeError(1001);
  return static_cast<long>(kind.integer.value);
}

// A pretext string, or flags (an integer); anything else is 11.
void pretext_or_flags(const Variant& v, String* pretext, long* flags, bool* have_pretext) {
  if (v.tag == VT_STRING) {
    *pretext = static_cast<String>(v);
    *flags = 0;
    *have_pretext = true;
  } else if (v.tag == VT_INTEGER) {
    *flags = static_cast<long>(v.integer.value);
    *have_pretext = false;
  } else {
    throw RuntimeError(11);
  }
}

void trim_line_start(String& piece, long flags) {
  const bool blanks = (flags & PRETEXT_TRIM_BLANKS) != 0;
  const bool tabs = (flags & PRETEXT_TRIM_TABS) != 0;
  if (blanks && tabs) {
    piece.ltrim_classic_space_or_tab();
  } else if (blanks) {
    piece.ltrim_classic_space();
  } else if (tabs) {
    piece.ltrim_classic_tab();
  }
}

Screen* screen_of(VmStack* stack) {
  Runtime* runtime = stack->get_runtime();
  if (runtime == nullptr) throw_assert_failed();
  return runtime->get_screen();
}

const Charset* default_charset(VmStack* stack) {
  Runtime* runtime = stack->get_runtime();
  return runtime != nullptr && runtime->codepage != nullptr ? runtime->codepage : Charset::utf8;
}

// The collected text into its memory variable (made a PRIVATE of the running frame when missing).
void store_collected_text(VmStack* stack) {
  std::unique_ptr<textmerge_target_st> target(stack->textmerge_target);
  stack->textmerge_target = nullptr;
  String name = std::move(stack->textmerge_variable);
  stack->textmerge_variable = String();
  Concat joined(default_charset(stack));
  for (const String& piece : target->texts) joined.append(piece);
  String text = joined.to_string(false);
  Symtable* symbols = stack->get_symtable();
  if (symbols == nullptr) throw_assert_failed();
  Memvar* memvar = nullptr;
  stack->alloc_undefined_memvar(symbols->symbolize(name), &memvar);
  Variant* value = memvar->value.tag == VT_REFERENCE ? memvar->value.reference.target : &memvar->value;
  value->release(stack);
  value->set_string(text);
}

}  // namespace

void bi_stackcall_text(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2 || (argc - 2) % 2 != 0) throw_assert_failed();
  String pretext;
  long flags = 0;
  bool have_pretext = false;
  pretext_or_flags(argument(stack, 1), &pretext, &flags, &have_pretext);
  const bool show = static_cast<integer_type_st>(argument(stack, 2)).value != 0;

  Concat text;
  if (have_pretext) text.append(pretext);
  bool line_start = true;
  bool line_empty = true;
  for (size_t i = 3; i < argc; i += 2) {
    const long kind = piece_kind(stack, i);
    const Variant& value = argument(stack, i + 1);
    switch (kind) {
      case PIECE_LITERAL: {
        String piece = piece_text(value);
        if (line_start) trim_line_start(piece, flags);
        if (piece.size() != 0) line_empty = false;
        text.append(piece);
        line_start = false;
        break;
      }
      case PIECE_EXPRESSION:
        text.append(piece_text(value));
        line_empty = false;
        line_start = false;
        break;
      case PIECE_LINE_END:
        if ((flags & PRETEXT_NO_LINE_ENDS) == 0 && !((flags & PRETEXT_SKIP_EMPTY) != 0 && line_empty)) {
          text.append(piece_text(value));
        }
        if (have_pretext) text.append(pretext);
        line_start = true;
        line_empty = true;
        break;
      default:
        throw RuntimeError(1001);
    }
  }
  String joined = text.to_string(false);
  if (show) screen_of(stack)->outendl(joined);
  result->set_string(joined);
}

void cmd_textmerge(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc % 2 != 0) throw_assert_failed();
  std::vector<String> pieces;
  pieces.reserve(argc / 2);
  for (size_t i = 1; i < argc; i += 2) pieces.push_back(piece_text(argument(stack, i + 1)));
  if (stack->textmerge_target != nullptr) {
    for (size_t i = 1, k = 0; i < argc; i += 2, ++k) {
      const bool line_end = argument(stack, i).tag == VT_INTEGER && argument(stack, i).integer.value == PIECE_LINE_END;
      stack->textmerge_target->texts.push_back(line_end ? String("\n") : pieces[k]);
    }
  }
  if (!stack->textmerge_show) return;
  Screen* screen = screen_of(stack);
  ScreenOutputLock lock(screen);
  for (const String& piece : pieces) screen->out(piece);
}

void cmd_set_textmerge_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc != 3) throw_assert_failed();
  const long options = static_cast<long>(static_cast<integer_type_st>(argument(stack, 1)).value);
  const Variant& name = argument(stack, 2);
  // Checked first, so that a refused command changes nothing.
  if (options & TEXTMERGE_ADDITIVE) throw RuntimeError(1001);
  if (options & TEXTMERGE_ON) stack->textmerge_on = 1;
  if (options & TEXTMERGE_OFF) stack->textmerge_on = 0;
  if (options & TEXTMERGE_SHOW) stack->textmerge_show = 1;
  if (options & TEXTMERGE_NOSHOW) stack->textmerge_show = 0;
  if ((options & TEXTMERGE_TO) == 0) {
    if (is_null_argument(&name)) return;
    if (name.tag != VT_STRING) throw RuntimeError(11);
    if (stack->textmerge_target != nullptr) throw RuntimeError(2044);
    stack->textmerge_variable = static_cast<String>(name);
    stack->textmerge_target = new textmerge_target_st();
    return;
  }
  if (stack->textmerge_target != nullptr) store_collected_text(stack);
}

void pretext_qz(const String& text, const String& pretext, bool first_without_pretext, bool trim_blanks,
                bool trim_tabs, bool skip_empty_lines, bool no_line_ends, String& out) {
  QZ_TRACE;
  struct line_st {
    String content;
    String separator;
  };
  struct split_st {
    const String* text;
    const char* previous;
    std::list<line_st> lines;
  } split{&text, text.read(), {}};
  static const char separators[] = "\r\n\n\r\n";
  const const_string_st needles[3] = {{separators, separators + 2, Charset::ascii},
                                      {separators + 2, separators + 4, Charset::ascii},
                                      {separators + 4, separators + 5, Charset::ascii}};
  size_t position = 0;
  text.scan(
      needles, 3, position,
      [](const String&, const char* hit_begin, const char* hit_end, size_t, size_t, size_t, void* context) {
        auto* s = static_cast<split_st*>(context);
        s->lines.push_back({String(*s->text, s->previous, hit_begin), String(*s->text, hit_begin, hit_end)});
        s->previous = hit_end;
        return true;
      },
      &split);
  if (split.previous < text.end()) split.lines.push_back({String(text, split.previous, text.end()), String()});

  Concat joined(text.get_charset());
  bool first = true;
  for (line_st& line : split.lines) {
    // Both together remove any run of blanks and tabs, as TEXT blocks do ("\t b" too).
    if (trim_blanks && trim_tabs) {
      line.content.ltrim_classic_space_or_tab();
    } else if (trim_blanks) {
      line.content.ltrim_classic_space();
    } else if (trim_tabs) {
      line.content.ltrim_classic_tab();
    }
    if (skip_empty_lines && line.content.size() == 0) continue;
    if (!(first && first_without_pretext) && pretext.size() != 0) {
      String prefix = pretext;
      prefix.convert(line.content.get_charset(), CON_NONE, 0);
      joined.append(prefix);
    }
    first = false;
    joined.append(line.content);
    if (no_line_ends) {
      joined.append(String(" "));
    } else if (line.separator.size() != 0) {
      joined.append(line.separator);
    }
  }
  out = joined.to_string(false);
}

void bi_pretext(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc != 2) throw RuntimeError(11);
  if (is_null_argument(Param(stack, 1))) {
    result->set_null();
    return;
  }
  const Variant& text = argument(stack, 1);
  if (text.tag != VT_STRING) throw RuntimeError(11);
  String pretext(0, Charset::ascii);
  long flags = 0;
  bool have_pretext = false;
  pretext_or_flags(argument(stack, 2), &pretext, &flags, &have_pretext);
  String out;
  pretext_qz(static_cast<String>(text), pretext, false, (flags & PRETEXT_TRIM_BLANKS) != 0,
             (flags & PRETEXT_TRIM_TABS) != 0, (flags & PRETEXT_SKIP_EMPTY) != 0, (flags & PRETEXT_NO_LINE_ENDS) != 0,
             out);
  result->set_string(out);
}

}  // namespace qzbase
