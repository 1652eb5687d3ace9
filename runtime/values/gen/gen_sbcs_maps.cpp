// gen_sbcs_maps - build-time generator of the single-byte code page maps.
//
// Usage: qz_gen_sbcs_maps OUTPUT.cpp RECODE-PROGRAM
//
// Writes OUTPUT.cpp with one `const uint16_t sbcs_map_NAME[256]` per table-driven charset: byte ->
// UTF-16 unit, U+FFFD for an unmapped byte. The maps come from ICU's converters, except
// Kamenicky (code page 895), which ICU lacks and GNU recode knows as KEYBCS2. Two adjustments
// follow the code pages as stored files use them:
// - Windows-125x pages: an undefined byte in 0x80..0x9F maps to the C1 control of the same value.
// - The DOS pages (437, 850, 895): the IBM arrangement 0x1A -> U+001C, 0x1C -> U+007F, 0x7F -> U+001A.
// Mazovia (code page 620) has no source to generate from; it is typed in charset_registry.cpp.
#include <unicode/ucnv.h>
#include <unicode/uvernum.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

enum Adjust { NONE, WINDOWS_C1, DOS_ARRANGEMENT };

struct IcuMap {
  const char* name;      // suffix of the array name
  const char* icu_name;  // ICU converter
  Adjust adjust;
};

const IcuMap kIcuMaps[] = {
    {"ascii", "US-ASCII", NONE},
    {"iso8859_1", "ISO-8859-1", NONE},
    {"windows1250", "ibm-5346_P100-1998", WINDOWS_C1},
    {"windows1251", "ibm-5347_P100-1998", WINDOWS_C1},
    {"windows1252", "ibm-5348_P100-1997", WINDOWS_C1},
    {"ibm437", "ibm-437_P100-1995", DOS_ARRANGEMENT},
    {"ibm850", "ibm-850_P100-1995", DOS_ARRANGEMENT},
};

[[noreturn]] void die(const std::string& msg) {
  fprintf(stderr, "qz_gen_sbcs_maps: %s\n", msg.c_str());
  exit(1);
}

void apply(std::vector<uint16_t>& map, Adjust adjust, const char* name, bool quiet = false) {
  if (adjust == WINDOWS_C1) {
    for (int b = 0x80; b <= 0x9F; ++b)
      if (map[b] == 0xFFFD) map[b] = static_cast<uint16_t>(b);
  } else if (adjust == DOS_ARRANGEMENT) {
    const uint16_t want[3][2] = {{0x1A, 0x001C}, {0x1C, 0x007F}, {0x7F, 0x001A}};
    for (auto& w : want) {
      if (map[w[0]] != w[1] && !quiet)
        fprintf(stderr, "qz_gen_sbcs_maps: note: %s maps 0x%02X to U+%04X; using the IBM arrangement U+%04X\n",
                name, w[0], map[w[0]], w[1]);
      map[w[0]] = w[1];
    }
  }
}

std::vector<uint16_t> icu_map(const IcuMap& m) {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* cnv = ucnv_open(m.icu_name, &status);
  if (U_FAILURE(status)) die(std::string("cannot open ICU converter ") + m.icu_name + ": " + u_errorName(status));
  ucnv_setToUCallBack(cnv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  if (U_FAILURE(status)) die("cannot set the to-Unicode callback");
  std::vector<uint16_t> map(256, 0xFFFD);
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    UChar out[4];
    status = U_ZERO_ERROR;
    ucnv_resetToUnicode(cnv);
    int32_t n = ucnv_toUChars(cnv, out, 4, &in, 1, &status);
    if (U_SUCCESS(status) && n == 1 && out[0] != 0xFFFD) map[b] = out[0];
  }
  ucnv_close(cnv);
  apply(map, m.adjust, m.name);
  return map;
}

std::vector<uint16_t> recode_map(const std::string& recode, const std::string& charset, const std::string& tmp_base) {
  std::string in_path = tmp_base + ".in";
  std::string out_path = tmp_base + ".out";
  {
    std::ofstream in(in_path, std::ios::binary | std::ios::trunc);
    for (int b = 0; b < 256; ++b) in.put(static_cast<char>(b));
    if (!in) die("cannot write " + in_path);
  }
  std::string cmd = "'" + recode + "' -f " + charset + "..UTF-16BE < '" + in_path + "' > '" + out_path + "'";
  int rc = system(cmd.c_str());
  if (rc != 0) die("recode failed: " + cmd);
  std::ifstream out(out_path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
  if (bytes.size() == 514 && static_cast<uint8_t>(bytes[0]) == 0xFE && static_cast<uint8_t>(bytes[1]) == 0xFF)
    bytes.erase(0, 2);
  if (bytes.size() != 512) die("recode " + charset + " gave " + std::to_string(bytes.size()) + " bytes, not 512");
  std::vector<uint16_t> map(256);
  for (int b = 0; b < 256; ++b)
    map[b] = static_cast<uint16_t>((static_cast<uint8_t>(bytes[2 * b]) << 8) | static_cast<uint8_t>(bytes[2 * b + 1]));
  std::remove(in_path.c_str());
  std::remove(out_path.c_str());
  return map;
}

void emit(std::ostringstream& os, const char* name, const std::vector<uint16_t>& map, const char* source) {
  os << "// " << source << "\n";
  os << "extern const uint16_t sbcs_map_" << name << "[256];\n";
  os << "const uint16_t sbcs_map_" << name << "[256] = {\n";
  for (int b = 0; b < 256; ++b) {
    if (b % 8 == 0) os << "    ";
    char buf[16];
    snprintf(buf, sizeof buf, "0x%04X,", map[b]);
    os << buf << (b % 8 == 7 ? "\n" : " ");
  }
  os << "};\n\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) die("usage: qz_gen_sbcs_maps OUTPUT.cpp RECODE-PROGRAM");
  std::string output = argv[1];
  std::string recode = argv[2];
  std::ostringstream os;
  os << "// Generated at build time by qz_gen_sbcs_maps from ICU " U_ICU_VERSION " and GNU recode. Do not edit.\n"
     << "#include <cstdint>\n\nnamespace qzbase {\n\n";
  for (const IcuMap& m : kIcuMaps) {
    std::string src = std::string("ICU ") + m.icu_name;
    emit(os, m.name, icu_map(m), src.c_str());
  }
  std::vector<uint16_t> kam = recode_map(recode, "KEYBCS2", output + ".keybcs2");
  apply(kam, DOS_ARRANGEMENT, "kamenicky", true);  // recode keeps the controls in place
  emit(os, "kamenicky", kam, "GNU recode KEYBCS2 (Kamenicky, code page 895)");
  os << "}  // namespace qzbase\n";

  std::string tmp = output + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f << os.str();
    if (!f) die("cannot write " + tmp);
  }
  if (std::rename(tmp.c_str(), output.c_str()) != 0) die("cannot rename " + tmp + " to " + output);
  return 0;
}
