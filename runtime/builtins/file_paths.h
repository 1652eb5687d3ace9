// file_paths.h - the built-ins of file names and the file system: path parts, the current
// directory, existence tests, ADIR, file dates and times, MKDIR and CD. Whole-file reading and
// writing (FILETOSTR, STRTOFILE) are in builtins/file_text.h.
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <system_error>

namespace qzbase {

// The text as UTF-8 made canonical (absolute; symbolic links, "." and ".." resolved), as a UTF-8
// String; a path that cannot be resolved sets error and gives an empty String.
String sanitize_path(const String& text, std::error_code& error);

void _justfname(VmStack* stack, size_t argc, Variant* result);  // JUSTFNAME
void _justpath(VmStack* stack, size_t argc, Variant* result);   // JUSTPATH
void _juststem(VmStack* stack, size_t argc, Variant* result);   // JUSTSTEM
void _justext(VmStack* stack, size_t argc, Variant* result);    // JUSTEXT
void _addbs(VmStack* stack, size_t argc, Variant* result);      // ADDBS
void forceext(VmStack* stack, size_t argc, Variant* result);    // FORCEEXT
void defaultext(VmStack* stack, size_t argc, Variant* result);  // DEFAULTEXT
void forcepath(VmStack* stack, size_t argc, Variant* result);   // FORCEPATH
void curdir(VmStack* stack, size_t argc, Variant* result);      // CURDIR
void directory(VmStack* stack, size_t argc, Variant* result);   // DIRECTORY
void _file(VmStack* stack, size_t argc, Variant* result);       // FILE
void adir(VmStack* stack, size_t argc, Variant* result);        // ADIR
void fdate(VmStack* stack, size_t argc, Variant* result);       // FDATE
void ftime(VmStack* stack, size_t argc, Variant* result);       // FTIME

void void_stackcall_mkdir(VmStack* stack, size_t argc);  // MKDIR name
void void_stackcall_cd(VmStack* stack, size_t argc);     // CD path

}  // namespace qzbase
