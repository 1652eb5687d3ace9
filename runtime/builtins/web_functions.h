// web_functions.h - JSON text, URL percent-encoding, query strings, HTTP headers, HTML escaping
// and mail header words. Each entry point follows the native calling convention (entry_points.h).
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

// Arrays and objects nest at most this deep in JSON text, both ways.
inline constexpr int json_max_depth = 512;

// The JSON text of value (UTF-8). RuntimeError 1001 for nesting deeper than json_max_depth (an
// object that holds itself ends there too).
String json_encode(VmStack* stack, const Variant* value);
// Decodes one value from the start of text into the empty out; false (out left empty) when the
// text is not valid JSON or nests too deep. RuntimeError 1001 for an invalid escape in a string.
bool json_decode(VmStack* stack, const String& text, Variant* out);

void bi_json_encode(VmStack* stack, size_t argc, Variant* result);  // Json.Encode
void bi_json_decode(VmStack* stack, size_t argc, Variant* result);  // Json.Decode

// The percent-decoding of http.urldecode and http.parsequery into out (UTF-8): RuntimeError 11
// for a character outside ASCII or a "%" without two hexadecimal digits, 9009 when the bytes are
// not UTF-8.
void http_url_decode_text(const String& text, String& out);

// The pairs of a query string in order: segments cut at "&" and "=", a key followed by "=" and a
// text takes that text as value, else an empty one; keys and values percent-decoded as above. A
// key met again is skipped (its first value stands).
using query_pair_callback = void (*)(void* context, const String& key, const String& value);
void http_parse_query(const String& text, query_pair_callback pair, void* context);

void bi_http_urlencode(VmStack* stack, size_t argc, Variant* result);   // http.urlencode
void bi_http_urldecode(VmStack* stack, size_t argc, Variant* result);   // http.urldecode
void bi_http_parsequery(VmStack* stack, size_t argc, Variant* result);  // http.parsequery
void bi_http_header(VmStack* stack, size_t argc, Variant* result);      // http.header
void bi_html_escape(VmStack* stack, size_t argc, Variant* result);      // html.escape
void bi_mime_header(VmStack* stack, size_t argc, Variant* result);      // mime.header
void bi_mime_ttoc(VmStack* stack, size_t argc, Variant* result);        // mime.ttoc

}  // namespace qzbase
