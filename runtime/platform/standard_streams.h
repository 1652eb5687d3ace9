// standard_streams.h - the standard C++ streams, without <iostream>'s load-time initialiser.
//
// <iostream> gives every file that includes it a static object which builds the eight standard
// streams and all the facets of the classic C++ locale when the library loads: a quarter of a
// megabyte resident for every program, most of which never reads the console. Library files include this header
// instead, before any header that includes <iostream>, and call build_standard_streams() before
// they first use a stream. Console output goes through stdio, to which the streams are synchronised.
#pragma once

#define _GLIBCXX_IOSTREAM 1  // libstdc++'s guard: a later #include <iostream> adds nothing

#include <istream>
#include <ostream>

namespace std {
// As <iostream> declares them.
extern istream cin;
extern ostream cout;
extern ostream cerr;
extern ostream clog;
}  // namespace std

namespace qzbase {

// Builds the standard streams once; later calls cost a guard check.
void build_standard_streams();

}  // namespace qzbase
