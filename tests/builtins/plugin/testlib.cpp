// testlib.cpp - a plug-in for the library tests. Built several times: QZ_TESTLIB_IDENT tells the
// copies apart, QZ_TESTLIB_NO_DESCRIBE leaves out the describe entry, QZ_TESTLIB_CLASH gives two
// rows one abbreviation.
#include <qzbase.h>

namespace {

int g_attaches = 0;
int g_detaches = 0;

void tl_ident(qzbase::VmStack*, size_t, qzbase::Variant* result) { qzbase::VarSetUtf8(result, QZ_TESTLIB_IDENT); }

void tl_attaches(qzbase::VmStack*, size_t, qzbase::Variant* result) { qzbase::VarSetInt(result, g_attaches); }

[[maybe_unused]] void attach(qzbase::Runtime*) { ++g_attaches; }
[[maybe_unused]] void detach(qzbase::Runtime*) { ++g_detaches; }

const qzbase::module_function_st functions[] = {
    {"testlibident", "", tl_ident, "C", 4},
    {"tl_attaches", "", tl_attaches, "I", 0},
#ifdef QZ_TESTLIB_CLASH
    {"testlibother", "", tl_ident, "C", 4},
#endif
    {nullptr, nullptr, nullptr, nullptr, 0},
};

}  // namespace

#ifndef QZ_TESTLIB_NO_DESCRIBE
extern "C" __attribute__((visibility("default"))) void qz1_describe_module(qzbase::module_description_st* out) {
  out->attach = attach;
  out->detach = detach;
  out->functions = functions;
}
#else
extern "C" __attribute__((visibility("default"))) int qz1_something_else() { return g_detaches; }
#endif
