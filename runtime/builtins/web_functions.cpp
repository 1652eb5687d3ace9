// web_functions.cpp - URL percent-encoding, query strings, HTTP headers, HTML escaping and mail
// header words.
//
// Faults of the obvious reading mended here:
// - A character outside ASCII in percent-encoded text raises the language's 11, not the text
//   layer's conversion exception (which no handler of a program can catch).
// - A repeated key of a query string keeps its first value instead of failing the whole parse.
// - Encoded mail header words end only between characters: a word never splits the bytes of one
//   character of the text's charset.
#include <unicode/ucal.h>
#include <unicode/udat.h>
#include <unicode/uloc.h>

#include <cstring>
#include <string>
#include <unordered_set>

#include "builtins/arguments.h"
#include "builtins/text_arguments.h"
#include "builtins/web_functions.h"
#include "objects/collection.h"
#include "objects/object.h"
#include "values/date_format.h"
#include "values/julian.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

const char upper_hex[] = "0123456789ABCDEF";

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

// Percent-decodes [p, end) (UTF-8 text) into out; see http_url_decode_text.
void url_decode_bytes(const char* p, const char* end, std::string& out) {
  out.clear();
  out.reserve(static_cast<size_t>(end - p));
  while (p < end) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x80) throw RuntimeError(11);
    if (c == '%') {
      int hi = end - p > 2 ? hex_digit(p[1]) : -1;
      int lo = hi >= 0 ? hex_digit(p[2]) : -1;
      if (lo < 0) throw RuntimeError(11);
      out.push_back(static_cast<char>(hi * 16 + lo));
      p += 3;
    } else {
      out.push_back(c == '+' ? ' ' : static_cast<char>(c));
      ++p;
    }
  }
  size_t valid_bytes = 0, valid_chars = 0, invalid_chars = 0, first_invalid = 0;
  Charset::utf8->verify(out.data(), out.size(), &valid_bytes, &valid_chars, &invalid_chars, &first_invalid);
  if (invalid_chars != 0 || valid_bytes != out.size()) throw RuntimeError(9009, String(Charset::utf8->name()));
}

String utf8_copy(const String& text) {
  String s = text;
  s.convert(Charset::utf8, CON_NONE, 0);
  return s;
}

}  // namespace

void http_url_decode_text(const String& text, String& out) {
  QZ_TRACE;
  String s = utf8_copy(text);
  std::string bytes;
  url_decode_bytes(s.read(), s.end(), bytes);
  out = String(bytes.data(), bytes.size(), Charset::utf8);
}

void bi_http_urlencode(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  String s = utf8_copy(text_argument(stack, 1));
  String out = allocate_text(checked_text_size(s.size(), 3), Charset::ascii);
  char* w = out.write();
  size_t n = 0;
  for (const char* p = s.read(); p < s.end(); ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (is_unreserved(c)) {
      w[n++] = static_cast<char>(c);
    } else {
      w[n++] = '%';
      w[n++] = upper_hex[c >> 4];
      w[n++] = upper_hex[c & 15];
    }
  }
  out.resize(n);
  result->set_string(out);
}

void bi_http_urldecode(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  String out;
  http_url_decode_text(text_argument(stack, 1), out);
  result->set_string(out);
}

void http_parse_query(const String& text, query_pair_callback pair, void* context) {
  QZ_TRACE;
  String s = utf8_copy(text);
  std::unordered_set<std::string> seen;  // keys are case-sensitive in a collection
  std::string key;
  std::string value;
  const char* p = s.read();
  const char* end = s.end();
  auto text_segment = [&](const char** at) {
    const char* begin = *at;
    while (*at < end && **at != '&' && **at != '=') ++*at;
    return begin;
  };
  while (p < end) {
    if (*p == '&' || *p == '=') {
      ++p;
      continue;
    }
    const char* key_begin = text_segment(&p);
    url_decode_bytes(key_begin, p, key);
    value.clear();
    if (p < end && *p == '=') {
      ++p;
      if (p < end && *p != '&' && *p != '=') {
        const char* value_begin = text_segment(&p);
        url_decode_bytes(value_begin, p, value);
      }
    }
    if (!seen.insert(key).second) continue;
    pair(context, String(key.data(), key.size(), Charset::utf8), String(value.data(), value.size(), Charset::utf8));
  }
}

// http.parsequery(text): a "collection" of the pairs, each value under its key (the first of a
// repeated key wins). The entries go straight into the native collection: no member is looked up.
void bi_http_parsequery(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  struct context_st {
    VmStack* stack;
    Collection_Object* collection;
  } context{stack, nullptr};
  ObjectPointer made = CreateObject(stack, String("Collection"), nullptr, 0);
  context.collection = dynamic_cast<Collection_Object*>(made.get_object());
  if (context.collection == nullptr) throw_assert_failed();
  http_parse_query(
      text_argument(stack, 1),
      [](void* ctx, const String& key, const String& value) {
        auto* c = static_cast<context_st*>(ctx);
        Variant item;
        item.set_string(value);
        try {
          c->collection->add(c->stack, key, &item);
        } catch (...) {
          item.release(c->stack);
          throw;
        }
        item.release(c->stack);
      },
      &context);
  result->set(made);
}

// http.header(line [, replace]): handed to the screen, which may ignore it.
void bi_http_header(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const String& line = text_argument(stack, 1);
  bool replace = true;
  if (argc >= 2) {
    const Variant* flag = argument_value(stack, 2);
    if (flag->tag != VT_TRUE && flag->tag != VT_FALSE) throw RuntimeError(11);
    replace = flag->tag == VT_TRUE;
  }
  Runtime* runtime = stack->get_runtime();
  if (runtime != nullptr) runtime->get_screen()->header(SCR_HEADER_NONE, line, replace);
  result->set_false();
}

void bi_html_escape(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  static const char* const from[] = {"&", "\"", "'", "<", ">"};
  static const char* const to[] = {"&amp;", "&quot;", "&apos;", "&lt;", "&gt;"};
  const_string_st search[5];
  const_string_st replace[5];
  for (int i = 0; i < 5; ++i) {
    search[i] = {from[i], from[i] + std::strlen(from[i]), Charset::ascii};
    replace[i] = {to[i], to[i] + std::strlen(to[i]), Charset::ascii};
  }
  result->set_string(text_argument(stack, 1).strmultitran(search, 5, replace));
}

// mime.header(text): the text itself when it is printable ASCII, else Q-encoded words in the
// text's own charset, folded with CR LF and a blank.
void bi_mime_header(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const String& text = text_argument(stack, 1);
  const Charset* cs = text.get_charset();
  bool plain = true;
  for (const char* p = text.read(); p < text.end();) {
    char32_t c = cs->next(&p, text.end());
    if (c < 32 || c > 127) {
      plain = false;
      break;
    }
  }
  if (plain) {
    String s = text;
    s.convert(Charset::ascii, CON_NONE, 0);
    result->set_string(s);
    return;
  }
  std::string prefix = std::string("=?") + cs->name() + "?Q?";
  const size_t room = prefix.size() < 73 ? 73 - prefix.size() : 0;
  std::string out;
  size_t used = 0;
  bool open = false;
  auto place = [](unsigned char b) { return (b > ' ' && b <= '~' && b != '=' && b != '_') || b == ' ' ? 1 : 3; };
  for (const char* p = text.read(); p < text.end();) {
    const char* start = p;
    cs->next(&p, text.end());
    if (p <= start) p = start + 1;
    size_t need = 0;
    for (const char* b = start; b < p; ++b) need += place(static_cast<unsigned char>(*b));
    // A character that does not fit ends the word; one that fits no word still gets one alone.
    if (open && used + need > room) {
      out.append("?=");
      open = false;
    }
    if (!open) {
      if (!out.empty()) out.append("\r\n ");
      out.append(prefix);
      open = true;
      used = 0;
    }
    for (const char* b = start; b < p; ++b) {
      unsigned char c = static_cast<unsigned char>(*b);
      if (c == ' ') {
        out.push_back('_');
      } else if (place(c) == 1) {
        out.push_back(static_cast<char>(c));
      } else {
        char e[3] = {'=', upper_hex[c >> 4], upper_hex[c & 15]};
        out.append(e, 3);
      }
    }
    used += need;
  }
  if (open) out.append("?=");
  result->set_string(String(out.data(), out.size(), Charset::ascii));
}

// mime.ttoc(datetime): the datetime as a mail date in the default time zone.
void bi_mime_ttoc(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const Variant* v = argument_value(stack, 1);
  if (v->tag != VT_DATETIME || v->datetime.day == 0) throw RuntimeError(11);
  int y, mo, d, h, mi, s, ms;
  unserial_julian_date(v->datetime, &y, &mo, &d, &h, &mi, &s, &ms);
  static const char16_t pattern[] = u"EEE, dd MMM yyyy HH:mm:ss ZZZ";
  UErrorCode status = U_ZERO_ERROR;
  UDateFormat* format = udat_open(UDAT_PATTERN, UDAT_PATTERN, "en_US@calendar=gregorian", nullptr, 0,
                                  reinterpret_cast<const UChar*>(pattern), -1, &status);
  if (U_FAILURE(status)) {
    if (format != nullptr) udat_close(format);
    throw RuntimeError(11);
  }
  UCalendar* cal = ucal_open(nullptr, 0, "en_US@calendar=gregorian", UCAL_GREGORIAN, &status);
  if (U_FAILURE(status)) {
    if (cal != nullptr) ucal_close(cal);
    udat_close(format);
    throw RuntimeError(11);
  }
  make_proleptic(cal);
  ucal_setDateTime(cal, y, mo - 1, d, h, mi, s, &status);
  UChar buffer[100];
  int32_t n = U_SUCCESS(status) ? udat_formatCalendar(format, cal, buffer, 100, nullptr, &status) : 0;
  ucal_close(cal);
  udat_close(format);
  if (U_FAILURE(status) || n < 0 || n >= 100) throw RuntimeError(11);
  char bytes[100];
  for (int32_t i = 0; i < n; ++i) {
    if (buffer[i] >= 0x80) throw RuntimeError(11);
    bytes[i] = static_cast<char>(buffer[i]);
  }
  result->set_string(String(bytes, static_cast<size_t>(n), Charset::ascii));
}

}  // namespace qzbase
