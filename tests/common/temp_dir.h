// temp_dir.h - a real temporary directory for tests that work on files, removed with everything in
// it; and a scoped change of the current directory.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace qzbase::testing_files {

struct TempDir {
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qz_test_XXXXXX").native();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path = std::filesystem::canonical(pattern);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Writes the file (creating its directories) and returns its path.
  std::filesystem::path write(const std::filesystem::path& relative, const std::string& text) const {
    std::filesystem::path p = path / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }

  std::filesystem::path path;
};

struct CwdGuard {
  explicit CwdGuard(const std::filesystem::path& to) : saved(std::filesystem::current_path()) {
    std::filesystem::current_path(to);
  }
  ~CwdGuard() { std::filesystem::current_path(saved); }
  CwdGuard(const CwdGuard&) = delete;
  CwdGuard& operator=(const CwdGuard&) = delete;
  std::filesystem::path saved;
};

}  // namespace qzbase::testing_files
