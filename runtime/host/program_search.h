// program_search.h - the SET PATH list seen from inside the library.
#pragma once

#include <qzbase.h>

#include <filesystem>
#include <vector>

namespace qzbase {

// The SET PATH entries in order: a copy taken under the list's lock.
std::vector<std::filesystem::path> search_path_entries(const Runtime* runtime);

}  // namespace qzbase
