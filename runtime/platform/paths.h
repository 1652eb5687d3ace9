// paths.h - taking file names apart and the runtime's directories.
//
// Each name function converts its argument to UTF-8, works on it as a POSIX path and converts
// the result back to the argument's charset. Stem and extension follow std::filesystem::path:
// the extension begins at the last "." of the file name unless that is its first character.
//
// Faults mended and choices made:
// - useropcodecachedir threw std::filesystem::filesystem_error (a plain file named .qz under
//   HOME, a directory that cannot be made): it raises RuntimeError 1101 with the directory.
// - systemtempdir takes TMPDIR from the runtime's environment copy (never from the process
//   environment, which the runtime does not read); without a runtime, or when the copy has no
//   usable TMPDIR (set, not empty, a directory), it is /tmp.
// - The directories and tempfilename's name are UTF-8 Strings.
#pragma once

#include <qzbase.h>

namespace qzbase {

enum Systemdir : int {
  SYSTEMDIR_TEMP = 0,          // the system temporary directory
  SYSTEMDIR_OPCODE_CACHE = 1,  // HOME/.qz/opcode
};

String justfname(String path);  // file name with extension; empty when the path ends with "/"
String justpath(String path);   // parent path (/a/b/c.txt -> /a/b; /a/b/ -> /a/b)
String juststem(String path);   // file name without extension
String justext(String path);    // extension without its dot; empty when none
String addbs(String path);      // "/" appended when the path ends with a file-name component
// The extension replaced by ext (the old one removed; a non-empty ext added with a "." in front
// unless it starts with one).
String force_extension(String path, const String& ext);
// The same replacement when the file name has no extension; otherwise the path unchanged.
String default_extension(String path, const String& ext);
// The file name of path inside dir ("/" put between unless dir ends with one).
String force_path(String path, const String& dir);
// Canonical absolute path (links, "." and ".." resolved), UTF-8; RuntimeError(1, path) when it
// cannot be resolved.
String canonical_path(String path);
// The system temporary directory (see above).
String systemtempdir(const Runtime* runtime = nullptr);
// HOME/.qz/opcode, made when missing; false (directory unchanged) when the runtime has no HOME
// or an empty one; RuntimeError 1101 when a directory cannot be examined or made.
bool useropcodecachedir(Runtime* runtime, String& directory);
// A fresh name (tempname) in the directory of `where` with the given extension; no file is made.
// False when `where` is 1 and there is no cache directory; RuntimeError 1001 for any other where.
bool tempfilename(Runtime* runtime, Systemdir where, String extension, String& name);

}  // namespace qzbase
