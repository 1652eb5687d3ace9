// program_dump.cpp - the readable listing of a Program.
#include "compiler/program_dump.h"

#include <cstdio>
#include <string_view>

#include "vm/execute.h"
#include "vm/symtable.h"

namespace qzbase {

namespace {

std::string int128_text(__int128 v) {
  if (v == 0) return "0";
  bool negative = v < 0;
  unsigned __int128 u = negative ? -static_cast<unsigned __int128>(v) : static_cast<unsigned __int128>(v);
  std::string digits;
  while (u != 0) {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(u % 10)));
    u /= 10;
  }
  return negative ? "-" + digits : digits;
}

// Ops of one operand shape are distinct classes; reach the fields through the exact class.
template <template <VmOpType> class S, VmOpType T, class F>
bool visit_one(const VmOp* op, F& f) {
  if (stored_opcode(op) != T) return false;
  f(*static_cast<const S<T>*>(op));
  return true;
}
template <template <VmOpType> class S, VmOpType... Ts, class F>
void visit(const VmOp* op, F&& f) {
  (visit_one<S, Ts>(op, f) || ...);
}

class Dumper {
 public:
  Dumper(const VmOp* const* code, const program_dump_options_st& options) : code_(code), options_(options) {}

  // statement: the op's statement number, or null when unknown (an op alone).
  std::string op(const VmOp* op, const int64_t* statement = nullptr) {
    const char* cls = vmop_class_name(stored_opcode(op));
    std::string_view name = cls != nullptr ? cls : "?";
    if (name.substr(0, 4) == "VmOp") name.remove_prefix(4);
    out_ = std::string(name);
    operands(op);
    if (options_.statements && statement != nullptr) out_ += " #" + std::to_string(*statement);
    return out_;
  }

 private:
  void word(const std::string& s) {
    out_ += ' ';
    out_ += s;
  }
  // Appended in place rather than through a "prefix" + std::to_string() temporary.
  template <typename N>
  void word(const char* prefix, N n) {
    out_ += ' ';
    out_ += prefix;
    out_ += std::to_string(n);
  }
  void num(uint64_t v) { word(std::to_string(v)); }
  void symbol(symbol_id_type id) {
    if (options_.symbols != nullptr && id != 0) {
      word(options_.symbols->resolve(id).u8str());
    } else {
      word("$", id);
    }
  }
  void target(uint64_t t) {
    if (code_ == nullptr) {
      word("-> ?" + std::to_string(t));
    } else {
      word("-> " + std::to_string(reinterpret_cast<const VmOp* const*>(t) - code_));
    }
  }
  void quoted(const String& s) {
    std::string text = s.u8str();
    std::string q = "\"";
    for (char c : text) {
      if (c == '"' || c == '\\') q += '\\';
      if (c == '\n') {
        q += "\\n";
        continue;
      }
      q += c;
    }
    word(q + "\"");
  }

  void operands(const VmOp* op) {
    switch (stored_opcode(op)) {
      case OP_CALL_SPEC_USER: {
        auto* o = static_cast<const VmOpCallSpecUser*>(op);
        const Program* callee = o->function != nullptr ? o->function->program() : nullptr;
        word(callee != nullptr ? callee->name().u8str() : "<null>");
        num(o->count);
        break;
      }
      case OP_CALL_SPEC_DO:
        num(static_cast<const VmOpCallSpecDo*>(op)->count);
        break;
      case OP_CALL_SPEC_VOID:
        num(static_cast<const VmOpCallSpecVoid*>(op)->count);
        break;
      case OP_UNRESOLVED_CALL: {
        auto* o = static_cast<const VmOpUnresolvedCall*>(op);
        word(o->name.u8str());
        num(o->count);
        break;
      }
      case OP_CAST_TO_BOOLEAN_IMPLICITLY:
      case OP_CAST_TO_INTEGER_IMPLICITLY:
      case OP_CAST_TO_NUMERIC_IMPLICITLY:
      case OP_CAST_TO_MONEY_IMPLICITLY:
      case OP_CAST_TO_DATE_IMPLICITLY:
      case OP_CAST_TO_DATETIME_IMPLICITLY:
      case OP_CAST_TO_STRING_IMPLICITLY:
      case OP_CAST_TO_OBJECT_IMPLICITLY:
        visit<VmOpCast, OP_CAST_TO_BOOLEAN_IMPLICITLY, OP_CAST_TO_INTEGER_IMPLICITLY, OP_CAST_TO_NUMERIC_IMPLICITLY,
              OP_CAST_TO_MONEY_IMPLICITLY, OP_CAST_TO_DATE_IMPLICITLY, OP_CAST_TO_DATETIME_IMPLICITLY,
              OP_CAST_TO_STRING_IMPLICITLY, OP_CAST_TO_OBJECT_IMPLICITLY>(op, [&](const auto& o) {
          if (o.allow_null != 0) word("null");
        });
        break;
      case OP_CHECK_ARGUMENT: {
        auto* o = static_cast<const VmOpCheckArgument*>(op);
        word("tag=" + std::to_string(o->expected_tag));
        word("flags=" + std::to_string(o->flags));
        break;
      }
      case OP_COND_TRUE_JUMP:
      case OP_COND_TRUE_JUMP_KEEP_ESP:
      case OP_COND_FALSE_OR_NULL_JUMP:
      case OP_COND_FALSE_OR_NULL_JUMP_KEEP_ESP:
      case OP_FOR_COND_FALSE_JUMP:
      case OP_JUMP:
        visit<VmOpTarget, OP_COND_TRUE_JUMP, OP_COND_TRUE_JUMP_KEEP_ESP, OP_COND_FALSE_OR_NULL_JUMP,
              OP_COND_FALSE_OR_NULL_JUMP_KEEP_ESP, OP_FOR_COND_FALSE_JUMP, OP_JUMP>(
            op, [&](const auto& o) { target(o.target); });
        break;
      case OP_READ_MEMVAR_POINTER_BY_NAME_DEFAULT:
      case OP_DEF_LOCAL:
      case OP_DEF_PRIVATE_SYMBOL:
      case OP_READ_BY_NAME:
      case OP_READ_MEMVAR_BY_NAME:
      case OP_READ_MEMVAR_BY_NAME_DEFAULT:
      case OP_READ_FILE_OBJECT_OR_MEMVAR_BY_NAME:
      case OP_READ_MEMVAR_POINTER_BY_NAME:
      case OP_READ_ADD_WRITE:
      case OP_WRITE_MEMVAR_BY_NAME:
        visit<VmOpSymbol, OP_READ_MEMVAR_POINTER_BY_NAME_DEFAULT, OP_DEF_LOCAL, OP_DEF_PRIVATE_SYMBOL, OP_READ_BY_NAME,
              OP_READ_MEMVAR_BY_NAME, OP_READ_MEMVAR_BY_NAME_DEFAULT, OP_READ_FILE_OBJECT_OR_MEMVAR_BY_NAME,
              OP_READ_MEMVAR_POINTER_BY_NAME, OP_READ_ADD_WRITE, OP_WRITE_MEMVAR_BY_NAME>(
            op, [&](const auto& o) { symbol(o.symbol); });
        break;
      case OP_DEF_LOCAL_OFFSET:
      case OP_DEF_PUBLIC_OFFSET:
      case OP_INIT_PARAMETER:
        visit<VmOpOffsetSymbol, OP_DEF_LOCAL_OFFSET, OP_DEF_PUBLIC_OFFSET, OP_INIT_PARAMETER>(op, [&](const auto& o) {
          word("@", o.offset);
          symbol(o.symbol);
        });
        break;
      case OP_READ_LOCAL_MEMVAR_BY_OFFSET:
      case OP_READ_LOCAL_MEMVAR_POINTER_BY_OFFSET:
      case OP_READ_ADD_WRITE_LOCAL:
      case OP_WRITE_MEMVAR_BY_OFFSET:
        visit<VmOpOffset, OP_READ_LOCAL_MEMVAR_BY_OFFSET, OP_READ_LOCAL_MEMVAR_POINTER_BY_OFFSET,
              OP_READ_ADD_WRITE_LOCAL, OP_WRITE_MEMVAR_BY_OFFSET>(
            op, [&](const auto& o) { word("@", o.offset); });
        break;
      case OP_CALL_SPEC_DYNAMIC:
      case OP_OBJECT_CALL:
      case OP_OBJECT_CALL_POINTER:
      case OP_READ_ARRAY_ITEM_BY_NAME:
      case OP_OBJECT_READ_PROPERTY:
      case OP_OBJECT_READ_PROPERTY_POINTER:
      case OP_WRITE_ARRAY_BY_NAME:
      case OP_OBJECT_WRITE_PROPERTY:
        visit<VmOpSymbolCount, OP_CALL_SPEC_DYNAMIC, OP_OBJECT_CALL, OP_OBJECT_CALL_POINTER, OP_READ_ARRAY_ITEM_BY_NAME,
              OP_OBJECT_READ_PROPERTY, OP_OBJECT_READ_PROPERTY_POINTER, OP_WRITE_ARRAY_BY_NAME,
              OP_OBJECT_WRITE_PROPERTY>(op, [&](const auto& o) {
          symbol(o.symbol);
          num(o.count);
        });
        break;
      case OP_READ_MEMVAR_INDEX_LOCAL:
      case OP_WRITE_ARRAY_BY_OFFSET:
        visit<VmOpOffsetCount, OP_READ_MEMVAR_INDEX_LOCAL, OP_WRITE_ARRAY_BY_OFFSET>(op, [&](const auto& o) {
          word("@", o.offset);
          num(o.count);
        });
        break;
      case OP_INIT_LOCAL_PARAMETERS:
        num(static_cast<const VmOpInitLocalParameters*>(op)->count);
        break;
      case OP_MACRO:
        num(static_cast<const VmOpMacro*>(op)->mode);
        break;
      case OP_READ_FIELD_BY_FIELD_NUM:
        num(static_cast<const VmOpReadFieldByFieldNum*>(op)->field);
        break;
      case OP_READ_CONST_INTEGER:
        word(std::to_string(static_cast<const VmOpReadConstInteger*>(op)->value));
        break;
      case OP_READ_CONST_NUMERIC: {
        auto* o = static_cast<const VmOpReadConstNumeric*>(op);
        char buf[48];
        std::snprintf(buf, sizeof buf, "%.17g", o->value.value);
        word(buf);
        if (o->value.decimals == free_decimals) {
          word("dec=free");
        } else {
          word("dec=" + std::to_string(o->value.decimals));
        }
        break;
      }
      case OP_READ_CONST_MONEY:
        word(int128_text(static_cast<const VmOpReadConstMoney*>(op)->value.value));
        break;
      case OP_READ_CONST_STRING:
        quoted(static_cast<const VmOpReadConstString*>(op)->value);
        break;
      case OP_READ_CONST_DATE:
        word("jd=" + std::to_string(static_cast<const VmOpReadConstDate*>(op)->value.day));
        break;
      case OP_READ_CONST_DATETIME: {
        auto* o = static_cast<const VmOpReadConstDatetime*>(op);
        word("jd=" + std::to_string(o->value.day));
        word("ms=" + std::to_string(o->value.ms));
        break;
      }
      case OP_INSTALL_ERROR_HANDLER: {
        auto* o = static_cast<const VmOpInstallErrorHandler*>(op);
        word("[");
        target(o->start);
        word("..");
        target(o->end);
        word("]");
        for (const catch_clause_st& c : o->clauses) {
          word("catch");
          target(c.target);
          if (c.variable != 0) {
            word("to");
            symbol(c.variable);
          }
          if (c.condition != nullptr) word("when");
        }
        break;
      }
      default:
        break;
    }
  }

  const VmOp* const* code_;
  const program_dump_options_st& options_;
  std::string out_;
};

void dump_into(std::string& out, const Program* program, const program_dump_options_st& options,
               const std::string& indent) {
  if (options.header) {
    out += indent + "program \"" + program->name().u8str() + "\" ops=" + std::to_string(program->code_length()) +
           " params=" + std::to_string(program->parameter_count()) +
           " slots=" + std::to_string(program->slot_count()) + "\n";
  }
  const VmOp* const* code = program->code();
  for (size_t i = 0; i < program->code_length(); ++i) {
    Dumper d(code, options);
    const int64_t statement = program->statement_of(i);
    out += indent + std::to_string(i) + ": " + d.op(code[i], &statement) + "\n";
    if (code[i]->opcode == OP_INSTALL_ERROR_HANDLER) {
      for (const catch_clause_st& c : static_cast<const VmOpInstallErrorHandler*>(code[i])->clauses) {
        if (c.condition != nullptr) dump_into(out, c.condition, options, indent + "    ");
      }
    }
  }
  out += indent + std::to_string(program->code_length()) + ": end\n";
}

}  // namespace

std::string dump_op(const VmOp* op, const VmOp* const* code, const program_dump_options_st& options) {
  QZ_TRACE;
  Dumper d(code, options);
  return d.op(op);
}

std::string dump_program(const Program* program, const program_dump_options_st& options) {
  QZ_TRACE;
  std::string out;
  dump_into(out, program, options, "");
  return out;
}

}  // namespace qzbase
