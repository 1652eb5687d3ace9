// json_functions.cpp - Json.Encode and Json.Decode.
//
// Both directions build their text in one growing byte buffer (UTF-8) and never allocate per
// character. The encoder writes strict JSON: the quote, the backslash and every control
// character are escaped, bytes that are not UTF-8 become U+FFFD, and numbers that JSON cannot
// hold (NaN, infinities) are written as null. The decoder is lenient about the case of the
// literals and about commas, strict about escapes, reads numbers bounded by the text's end (an
// integer outside 64 bits becomes a numeric) and stops quietly at json_max_depth, so hostile
// nesting never exhausts the native stack.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "builtins/arguments.h"
#include "builtins/text_arguments.h"
#include "builtins/web_functions.h"
#include "objects/class.h"
#include "objects/object.h"
#include "values/date_format.h"
#include "values/value_text.h"
#include "vm/calls.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// Length of the well-formed UTF-8 sequence at p (1 to 4), or 0 when the bytes there are not one.
size_t utf8_sequence(const unsigned char* p, const unsigned char* end) {
  unsigned char c = p[0];
  if (c < 0x80) return 1;
  size_t n;
  char32_t min;
  char32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, min = 0x80, cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, min = 0x800, cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, min = 0x10000, cp = c & 0x07;
  } else {
    return 0;
  }
  if (static_cast<size_t>(end - p) < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    char b[2] = {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    out.append(b, 2);
  } else if (c < 0x10000) {
    char b[3] = {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                 static_cast<char>(0x80 | (c & 0x3F))};
    out.append(b, 3);
  } else {
    char b[4] = {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                 static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    out.append(b, 4);
  }
}

// The text's bytes in UTF-8; text that claims UTF-8 but is not gets U+FFFD for each bad byte.
String utf8_of(const String& text) {
  String s = text;
  s.convert(Charset::utf8, CON_NONE, 0);
  const auto* p = reinterpret_cast<const unsigned char*>(s.read());
  const auto* end = reinterpret_cast<const unsigned char*>(s.end());
  const auto* q = p;
  while (q < end && *q < 0x80) ++q;
  for (; q < end;) {
    size_t n = utf8_sequence(q, end);
    if (n == 0) break;
    q += n;
  }
  if (q == end) return s;
  std::string clean(reinterpret_cast<const char*>(p), static_cast<size_t>(q - p));
  while (q < end) {
    size_t n = utf8_sequence(q, end);
    if (n == 0) {
      append_utf8(clean, 0xFFFD);
      ++q;
    } else {
      clean.append(reinterpret_cast<const char*>(q), n);
      q += n;
    }
  }
  return String(clean.data(), clean.size(), Charset::utf8);
}

[[noreturn]] void throw_too_deep() {
  throw RuntimeError(1001, String("Json.Encode of values nested deeper than 512 levels"));
}

// True when text is a JSON number (the ordinary text conversion of a value may be something
// else, such as a row of asterisks for a value too wide for its decimals).
bool is_json_number(const char* p, const char* end) {
  if (p < end && *p == '-') ++p;
  const char* digits = p;
  while (p < end && *p >= '0' && *p <= '9') ++p;
  if (p == digits || (*digits == '0' && p - digits > 1)) return false;
  if (p < end && *p == '.') {
    const char* f = ++p;
    while (p < end && *p >= '0' && *p <= '9') ++p;
    if (p == f) return false;
  }
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p < end && (*p == '+' || *p == '-')) ++p;
    const char* e = p;
    while (p < end && *p >= '0' && *p <= '9') ++p;
    if (p == e) return false;
  }
  return p == end;
}

class Encoder {
 public:
  explicit Encoder(VmStack* stack) : stack_(stack) {}

  void value(const Variant* v, int depth) {
    switch (v->tag) {
      case VT_FALSE:
        out.append("false");
        return;
      case VT_NULL:
        out.append("null");
        return;
      case VT_TRUE:
        out.append("true");
        return;
      case VT_INTEGER: {
        char buffer[24];
        auto r = std::to_chars(buffer, buffer + sizeof buffer, v->integer.value);
        out.append(buffer, r.ptr);
        return;
      }
      case VT_NUMERIC:
        if (!std::isfinite(v->numeric.value)) {
          out.append("null");
          return;
        }
        number(v, v->numeric.value);
        return;
      case VT_MONEY:
        number(v, 0.0);
        return;
      case VT_DATE:
        string(date_text(v));
        return;
      case VT_DATETIME:
        string(datetime_text(v));
        return;
      case VT_STRING:
        string(v->string);
        return;
      case VT_OBJECT:
        object(v, depth);
        return;
      case VT_ARRAY: {
        if (depth >= json_max_depth) throw_too_deep();
        const Array& a = v->array;
        out.push_back('[');
        for (size_t i = 1; i <= a.count(); ++i) {
          if (i > 1) out.push_back(',');
          value(a.read(i), depth + 1);
        }
        out.push_back(']');
        return;
      }
      case VT_REFERENCE:
        throw_assert_failed();
      default:
        return;
    }
  }

  // text (any charset) in quotes, escaped.
  void string(const String& text) {
    String s = utf8_of(text);
    out.push_back('"');
    const char* p = s.read();
    const char* end = s.end();
    while (p < end) {
      const char* run = p;
      while (p < end && static_cast<unsigned char>(*p) >= 0x20 && *p != '"' && *p != '\\') ++p;
      out.append(run, p);
      if (p == end) break;
      unsigned char c = static_cast<unsigned char>(*p++);
      switch (c) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\b': out.append("\\b"); break;
        case '\f': out.append("\\f"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        default: {
          static const char hex[] = "0123456789abcdef";
          char e[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
          out.append(e, 6);
        }
      }
    }
    out.push_back('"');
  }

  std::string out;

 private:
  // The value's ordinary text, without a bare trailing point; any other text (not a JSON number,
  // or an exponent form) is replaced by the shortest exact form of the double.
  void number(const Variant* v, double value) {
    String text = variant_to_string(*v, false);
    const char* p = text.read();
    const char* end = text.end();
    while (p < end && *p == ' ') ++p;
    if (end > p && end[-1] == '.') --end;
    // The ordinary text of a large value is a rounded exponent form: the shortest exact form
    // keeps every digit.
    if (is_json_number(p, end) && std::find(p, end, 'E') == end) {
      out.append(p, end);
      return;
    }
    if (v->tag == VT_MONEY) value = variant_to_double(*v);
    char buffer[32];
    auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, r.ptr);
  }

  String date_text(const Variant* v) {
    Runtime* runtime = stack_ != nullptr ? stack_->get_runtime() : nullptr;
    if (runtime != nullptr) return format_date_regional(v->date, runtime->dateFormat(DATE_YMD, true, "-"));
    char buffer[32];
    size_t n = format_date_iso(v->date, buffer, sizeof buffer);
    return String(buffer, n, Charset::ascii);
  }

  String datetime_text(const Variant* v) {
    Runtime* runtime = stack_ != nullptr ? stack_->get_runtime() : nullptr;
    if (runtime != nullptr)
      return format_datetime_regional(v->datetime,
                                      runtime->dateTimeFormat(DATE_YMD, true, "-", 24, true, "'T'", ":"));
    char buffer[48];
    size_t n = format_datetime_iso(v->datetime, buffer, sizeof buffer);
    return String(buffer, n, Charset::ascii);
  }

  struct member_st {
    symbol_id_type symbol;
    String name;
  };

  void object(const Variant* v, int depth) {
    if (v->is_empty_object_reference()) {
      out.append("null");
      return;
    }
    if (depth >= json_max_depth) throw_too_deep();
    Object* obj = static_cast<Object*>(*v);
    // The enumeration holds the object's property lock: names first, values read afterwards.
    std::vector<member_st> members;
    obj->virtual_enum_properties(
        [](void* context, Object*, symbol_id_type symbol, const ClassMember& member) {
          if (member.kind == MEMBER_PROPERTY)
            static_cast<std::vector<member_st>*>(context)->push_back({symbol, member.name});
          return 0;
        },
        &members);
    out.push_back('{');
    bool first = true;
    for (const member_st& m : members) {
      if (!first) out.push_back(',');
      first = false;
      string(m.name);
      out.push_back(':');
      Variant read;
      Memvar* mark = stack_->sp;
      try {
        stack_->push();
        stack_->push()->value.set(obj);
        object_read_property(stack_, m.symbol, 0);
        read = std::move(stack_->sp->value);
        stack_->release_stack_to(mark);
      } catch (const RuntimeError& e) {
        stack_->release_stack_to(mark);
        read.release(stack_);
        read.set_string(e.message);
      } catch (...) {
        stack_->release_stack_to(mark);
        throw;
      }
      try {
        value(&read, depth + 1);
      } catch (...) {
        read.release(stack_);
        throw;
      }
      read.release(stack_);
    }
    out.push_back('}');
  }

  VmStack* stack_;
};

// ---------------------------------------------------------------------------------------------
// Decoding
// ---------------------------------------------------------------------------------------------

enum Token : int {
  TOKEN_NONE = 0,
  TOKEN_STRING = 1,
  TOKEN_TRUE = 2,
  TOKEN_NULL = 3,
  TOKEN_FALSE = 4,
  TOKEN_INTEGER = 5,
  TOKEN_NUMBER = 6,
};

struct token_st {
  int kind = TOKEN_NONE;
  const char* begin = nullptr;  // a string's text between the quotes, still escaped
  const char* end = nullptr;
  int64_t integer = 0;
  double number = 0;
  uint64_t decimals = 0;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

[[noreturn]] void throw_escape() { throw RuntimeError(1001, String("json_decode escape sequence")); }

class Decoder {
 public:
  Decoder(VmStack* stack, const char* begin, const char* end) : stack_(stack), p_(begin), end_(end) {}

  token_st next() {
    token_st t;
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
    if (p_ == end_) return t;
    char c = *p_;
    switch (c) {
      case '"': {
        const char* q = p_ + 1;
        while (q < end_ && *q != '"') {
          if (*q == '\\' && end_ - q < 2) return t;  // a backslash ends the text
          q += *q == '\\' ? 2 : 1;
        }
        if (q == end_) return t;
        t.kind = TOKEN_STRING;
        t.begin = p_ + 1;
        t.end = q;
        p_ = q + 1;
        return t;
      }
      case ',': case ':': case '[': case ']': case '{': case '}':
        t.kind = c;
        ++p_;
        return t;
      case 't': case 'T':
        return word(t, "true", TOKEN_TRUE);
      case 'f': case 'F':
        return word(t, "false", TOKEN_FALSE);
      case 'n': case 'N':
        return word(t, "null", TOKEN_NULL);
      default:
        if (c == '-' || is_digit(c)) return number(t);
        return t;
    }
  }

  bool item(const token_st& t, Variant* out, int depth) {
    switch (t.kind) {
      case TOKEN_TRUE: out->set_true(); return true;
      case TOKEN_FALSE: out->set_false(); return true;
      case TOKEN_NULL: out->set_null(); return true;
      case TOKEN_INTEGER: out->set_integer(static_cast<long>(t.integer)); return true;
      case TOKEN_NUMBER: out->set_float(t.number, t.decimals); return true;
      case TOKEN_STRING: out->set_string(unescape(t.begin, t.end)); return true;
      case '[': return array(out, depth);
      case '{': return object(out, depth);
      default: return false;
    }
  }

 private:
  token_st word(token_st& t, const char* w, int kind) {
    size_t n = std::strlen(w);
    if (static_cast<size_t>(end_ - p_) < n) return t;
    for (size_t i = 0; i < n; ++i) {
      char c = p_[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != w[i]) return t;
    }
    p_ += n;
    t.kind = kind;
    return t;
  }

  // [-] digits [. digits] [e [+-] digits], bounded by the text's end. Digits-only text that fits
  // 64 bits is an integer; everything else a numeric whose decimals are the digits after the
  // point, 0 with an exponent or a bare point. A lone "-" is a numeric 0.
  token_st number(token_st& t) {
    const char* start = p_;
    const char* q = p_;
    if (*q == '-') ++q;
    const char* int_digits = q;
    while (q < end_ && is_digit(*q)) ++q;
    bool has_int = q > int_digits;
    bool point = false;
    const char* frac_digits = q;
    if (q < end_ && *q == '.') {
      point = true;
      frac_digits = ++q;
      while (q < end_ && is_digit(*q)) ++q;
    }
    size_t fraction = point ? static_cast<size_t>(q - frac_digits) : 0;
    t.kind = TOKEN_NUMBER;
    if (!has_int && fraction == 0) {
      // "-" or "-." : no number to read.
      p_ = start + 1;
      t.number = 0;
      t.decimals = 0;
      return t;
    }
    bool exponent = false;
    if (q < end_ && (*q == 'e' || *q == 'E')) {
      const char* e = q + 1;
      if (e < end_ && (*e == '+' || *e == '-')) ++e;
      if (e < end_ && is_digit(*e)) {
        while (e < end_ && is_digit(*e)) ++e;
        q = e;
        exponent = true;
      }
    }
    p_ = q;
    if (!point && !exponent) {
      auto r = std::from_chars(start, q, t.integer);
      if (r.ec == std::errc() && r.ptr == q) {
        t.kind = TOKEN_INTEGER;
        return t;
      }
    }
    t.decimals = exponent ? 0 : fraction;
    auto r = std::from_chars(start, q, t.number);
    if (r.ec == std::errc::result_out_of_range) {
      // Beyond the double's range: the standard reading gives infinity or zero.
      std::string copy(start, q);
      t.number = std::strtod(copy.c_str(), nullptr);
    } else if (r.ec != std::errc()) {
      t.number = 0;
    }
    return t;
  }

  // The escaped text of a string value into a new UTF-8 string. \uXXXX escapes of a surrogate
  // pair make one character; a lone surrogate becomes U+FFFD.
  String unescape(const char* p, const char* end) {
    buffer_.clear();
    while (p < end) {
      const char* run = p;
      while (p < end && *p != '\\') ++p;
      buffer_.append(run, p);
      if (p == end) break;
      ++p;  // the backslash; the lexer put at least one byte after it
      if (p >= end) throw_escape();
      char c = *p++;
      switch (c) {
        case '"': case '\\': case '/': buffer_.push_back(c); break;
        case 'b': buffer_.push_back('\b'); break;
        case 'f': buffer_.push_back('\f'); break;
        case 'n': buffer_.push_back('\n'); break;
        case 'r': buffer_.push_back('\r'); break;
        case 't': buffer_.push_back('\t'); break;
        case 'u': {
          char32_t unit = hex4(&p, end);
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (end - p >= 6 && p[0] == '\\' && p[1] == 'u') {
              const char* q = p + 2;
              char32_t low = hex4(&q, end);
              if (low >= 0xDC00 && low <= 0xDFFF) {
                p = q;
                append_utf8(buffer_, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                break;
              }
            }
            unit = 0xFFFD;
          } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            unit = 0xFFFD;
          }
          append_utf8(buffer_, unit);
          break;
        }
        default:
          throw_escape();
      }
    }
    return String(buffer_.data(), buffer_.size(), Charset::utf8);
  }

  static char32_t hex4(const char** p, const char* end) {
    if (end - *p < 4) throw_escape();
    char32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      int h = hex_value((*p)[i]);
      if (h < 0) throw_escape();
      v = (v << 4) | static_cast<char32_t>(h);
    }
    *p += 4;
    return v;
  }

  bool array(Variant* out, int depth) {
    if (depth >= json_max_depth) return false;
    std::vector<Variant> items;
    auto release_items = [&] {
      for (Variant& v : items) v.release(stack_);
    };
    token_st t = next();
    if (t.kind != ']') {
      for (;;) {
        Variant v;
        bool ok;
        try {
          ok = item(t, &v, depth + 1);
        } catch (...) {
          release_items();
          throw;
        }
        if (!ok) {
          release_items();
          return false;
        }
        items.push_back(std::move(v));
        t = next();
        if (t.kind == ',') {
          t = next();
          if (t.kind == ']') break;
        } else if (t.kind == ']') {
          break;
        }
      }
    }
    try {
      Array a(items.size());
      try {
        for (size_t i = 0; i < items.size(); ++i) *a.write(stack_, i + 1) = std::move(items[i]);
        out->set_array(a);
      } catch (...) {
        a.release(stack_);
        throw;
      }
      a.release(stack_);
    } catch (...) {
      release_items();
      throw;
    }
    return true;
  }

  bool object(Variant* out, int depth) {
    if (depth >= json_max_depth) return false;
    if (stack_ == nullptr || stack_->symtable == nullptr) throw_assert_failed();
    ObjectPointer obj = CreateObject(stack_, String("Empty"), nullptr, 0);
    std::unordered_set<symbol_id_type> kept;
    token_st t = next();
    if (t.kind != '}') {
      for (;;) {
        if (t.kind != TOKEN_STRING) return false;
        // The name is taken as written (escapes are not decoded); names equal without regard
        // to case share a symbol, and the first of them wins.
        symbol_id_type symbol =
            stack_->symtable->symbolize(t.begin, static_cast<size_t>(t.end - t.begin));
        if (next().kind != ':') return false;
        Variant v;
        if (!item(next(), &v, depth + 1)) return false;
        if (kept.insert(symbol).second) {
          try {
            obj->addproperty(stack_, symbol, &v);
          } catch (...) {
            v.release(stack_);
            throw;
          }
        }
        v.release(stack_);
        t = next();
        if (t.kind == TOKEN_STRING) continue;
        if (t.kind == '}') break;
        if (t.kind != ',') return false;
        t = next();
        if (t.kind == '}') break;
      }
    }
    out->set(obj);
    return true;
  }

  VmStack* stack_;
  const char* p_;
  const char* end_;
  std::string buffer_;
};

}  // namespace

String json_encode(VmStack* stack, const Variant* value) {
  QZ_TRACE;
  Encoder encoder(stack);
  encoder.value(value, 0);
  return String(encoder.out.data(), encoder.out.size(), Charset::utf8);
}

bool json_decode(VmStack* stack, const String& text, Variant* out) {
  QZ_TRACE;
  String utf8 = utf8_of(text);
  Decoder decoder(stack, utf8.read(), utf8.end());
  Variant v;
  if (!decoder.item(decoder.next(), &v, 0)) {
    v.release(stack);
    return false;
  }
  out->set_variant(&v);
  v.release(stack);
  return true;
}

// Json.Encode(value): null is written as null (the argument is not a null test).
void bi_json_encode(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  result->set_string(json_encode(stack, argument_value(stack, 1)));
}

// Json.Decode(text [, @target]).
void bi_json_decode(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const String& text = text_argument(stack, 1);
  Variant decoded;
  bool ok = json_decode(stack, text, &decoded);
  if (argc < 2) {
    if (ok) {
      result->set_variant(&decoded);
    } else {
      result->set_null();
    }
    decoded.release(stack);
    return;
  }
  Variant* target = argument_value(stack, 2);
  target->release(stack);
  target->set_variant(&decoded);
  decoded.release(stack);
  result->set_bool(ok);
}

}  // namespace qzbase
