// host_program.cpp - a host and plug-in user of the library that sees nothing but the installed
// public header: it must compile against qzbase.h alone, link against the installed library and
// run.
#include <qzbase.h>

#include <cstdio>
#include <cstring>

using namespace qzbase;

namespace {

// The host and plug-in interface, taken by address: each is declared by the header and exported
// by the library, or this program does not build.
const void* const interface_functions[] = {
    reinterpret_cast<const void*>(&CreateScreen),
    reinterpret_cast<const void*>(&ReleaseScreen),
    reinterpret_cast<const void*>(&SetOutputCharset),
    reinterpret_cast<const void*>(&SetInputCharset),
    reinterpret_cast<const void*>(&PrintScreenUtf8),
    reinterpret_cast<const void*>(&CreateRuntime),
    reinterpret_cast<const void*>(&ReleaseRuntime),
    reinterpret_cast<const void*>(&RunProgram),
    reinterpret_cast<const void*>(&RunCommand),
    reinterpret_cast<const void*>(&RunScript),
    reinterpret_cast<const void*>(&RunQzsh),
    reinterpret_cast<const void*>(&GetMainStack),
    reinterpret_cast<const void*>(&CreateStack),
    reinterpret_cast<const void*>(&ReleaseStack),
    reinterpret_cast<const void*>(&GetRuntime),
    reinterpret_cast<const void*>(&AllocArgsW),
    reinterpret_cast<const void*>(&FreeArgsW),
    reinterpret_cast<const void*>(&SetRuntimeAsserts),
    reinterpret_cast<const void*>(&CollectPrintSysinfo),
    reinterpret_cast<const void*>(&FindFile),
    reinterpret_cast<const void*>(&GetClass),
    reinterpret_cast<const void*>(&CreateObject),
    reinterpret_cast<const void*>(&SyntaxClassifyString),
    reinterpret_cast<const void*>(&SyntaxFetchClassifications),
    reinterpret_cast<const void*>(&field_type_name),
    reinterpret_cast<const void*>(&GetLastError),
    reinterpret_cast<const void*>(&GetLastErrorMessage),
    reinterpret_cast<const void*>(&TranslateError),
    reinterpret_cast<const void*>(&TranslateErrorEx),
    reinterpret_cast<const void*>(&GetCharsetByCSID),
    reinterpret_cast<const void*>(&GetCharsetByWindowsCodepage),
    reinterpret_cast<const void*>(&GetCharsetCSID),
    reinterpret_cast<const void*>(&GetCharsetCPID),
    reinterpret_cast<const void*>(&list_supported_charset),
    reinterpret_cast<const void*>(&HashSHA1),
    reinterpret_cast<const void*>(&HashSHA256),
    reinterpret_cast<const void*>(&trunc_insignificant_digits),
    reinterpret_cast<const void*>(&sig_SEGV_handler),
    reinterpret_cast<const void*>(&sig_ABRT_handler),
    reinterpret_cast<const void*>(&terminate_handler),
    reinterpret_cast<const void*>(&Param),
    reinterpret_cast<const void*>(&Pointer),
    reinterpret_cast<const void*>(&VarSetVariant),
    reinterpret_cast<const void*>(&VarSetTrue),
    reinterpret_cast<const void*>(&VarSetFalse),
    reinterpret_cast<const void*>(&VarSetBool),
    reinterpret_cast<const void*>(&VarSetNull),
    reinterpret_cast<const void*>(&VarSetInt),
    reinterpret_cast<const void*>(&VarSetDouble),
    reinterpret_cast<const void*>(&VarSetString),
    reinterpret_cast<const void*>(&VarSetUtf8),
    reinterpret_cast<const void*>(&VarSetUtf8Len),
    reinterpret_cast<const void*>(&VarGetInt),
    reinterpret_cast<const void*>(&VarGetInt32),
    reinterpret_cast<const void*>(&VarGetInt64),
    reinterpret_cast<const void*>(&VarGetString),
    reinterpret_cast<const void*>(&VarReadString),
    reinterpret_cast<const void*>(&VarWriteString),
    reinterpret_cast<const void*>(&ReleaseVar),
    reinterpret_cast<const void*>(static_cast<const Variant* (*)(VmStack*, const Array*, size_t)>(&ReadArrayItem)),
    reinterpret_cast<const void*>(static_cast<const Variant* (*)(const Array*, size_t, size_t)>(&ReadArrayItem)),
    reinterpret_cast<const void*>(&WriteArrayItem),
    reinterpret_cast<const void*>(static_cast<Array* (*)(VmStack*, Variant*, size_t)>(&VarDimArray)),
    reinterpret_cast<const void*>(static_cast<Array* (*)(VmStack*, Variant*, size_t, size_t)>(&VarDimArray)),
    reinterpret_cast<const void*>(static_cast<const Array* (*)(const Variant*)>(&VarGetArray)),
    reinterpret_cast<const void*>(static_cast<Array* (*)(Variant*)>(&VarGetArray)),
    reinterpret_cast<const void*>(&ArrayNumElements),
    reinterpret_cast<const void*>(&ArrayNumRows),
    reinterpret_cast<const void*>(&ArrayNumColumns),
};

void count_charset(void* ctx, const char* name) {
  if (name != nullptr && name[0] != 0) ++*static_cast<int*>(ctx);
}

}  // namespace

int main() {
  size_t missing = 0;
  for (const void* f : interface_functions) missing += f == nullptr;
  std::printf("interface functions: %zu, missing %zu\n", sizeof interface_functions / sizeof *interface_functions,
              missing);

  int charsets = 0;
  list_supported_charset(&charsets, &count_charset);
  std::printf("supported charsets: %d\n", charsets);
  const Charset* cp1252 = GetCharsetByWindowsCodepage(1252);
  std::printf("cp1252 found by its CSID: %s\n", GetCharsetByCSID(GetCharsetCSID(cp1252)) == cp1252 ? "yes" : "no");

  char message[128];
  TranslateError(1, message, sizeof message);
  std::printf("error 1: %s\n", message);

  unsigned char digest[32];
  HashSHA256(reinterpret_cast<const unsigned char*>("abc"), 3, digest, sizeof digest);
  std::printf("sha256(abc) starts %02x%02x%02x%02x\n", digest[0], digest[1], digest[2], digest[3]);
  std::printf("field type 2: %s\n", field_type_name(2));

  Screen* screen = CreateScreen(0);
  Runtime* runtime = CreateRuntime(screen);
  PrintScreenUtf8(screen, "printed through the screen\n");
  RunCommand(runtime, String("? 6 * 7"));
  RunCommand(runtime, String("NOTE typed at the prompt"));
  RunCommand(runtime, String("? \"after the note\""));

  // The runtime's setters are the host's only way in: the language reads back what they gave.
  const char* const arguments[] = {"host", "first argument"};
  runtime->pass_arguments(2, arguments);
  const char* const environment[] = {"QZ_HOST=from the host", "QZ_HOST=second entry loses", nullptr};
  runtime->pass_environment(environment);
  runtime->set_module_file_name("/opt/host/bin/host");
  RunCommand(runtime, String("? GETENV(\"QZ_HOST\"), GETENV(\"HOME\") == \"\""));
  RunCommand(runtime, String("? CUREXE()"));

  VmStack* stack = nullptr;
  GetMainStack(runtime, &stack);
  Variant v;
  Array* array = VarDimArray(stack, &v, 3);
  VarSetInt(WriteArrayItem(stack, array, 2, 0), 42);
  std::printf("array of %zu, element 2 = %d\n", ArrayNumElements(VarGetArray(&v)),
              VarGetInt(ReadArrayItem(stack, array, 2)));
  ReleaseVar(stack, &v);

  ReleaseRuntime(runtime);
  ReleaseScreen(screen);
  return 0;
}
