#pragma once
// Runs the built fixfir in a scratch directory with piped answers, for end-to-end tests.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace fixfir_test {

namespace fs = std::filesystem;

/// A fresh, empty directory that is removed with everything in it at the end of scope.
struct scratch_dir {
  fs::path path;
  scratch_dir() {
    std::string tmpl = (fs::temp_directory_path() / "fixfir-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) std::abort();
    path = tmpl;
  }
  ~scratch_dir() {
    std::error_code ec;
    // A test may have made the directory read-only; give write access back first.
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
  }
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  fs::path operator/(const std::string& name) const { return path / name; }
};

inline void write_file(const fs::path& p, const std::string& content) {
  std::ofstream f(p, std::ios::binary);
  f << content;
}

inline std::string read_file(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct run_result {
  int status = -1;  ///< exit status (255 for the dialogue's -1), or -1 if it did not exit
  std::string console;
};

inline std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

#ifdef FIXFIR_EXE
/// Runs `exe` in `dir` with `answers` on standard input; captures standard output.
/// `prefix` goes before the command in the shell (e.g. "ulimit -v 500000;").
inline run_result run_tool(const fs::path& dir, const std::string& answers,
                           const std::string& exe = FIXFIR_EXE, const std::string& prefix = "") {
  const fs::path in = dir.parent_path() / (dir.filename().string() + ".stdin");
  const fs::path out = dir.parent_path() / (dir.filename().string() + ".stdout");
  write_file(in, answers);
  const std::string cmd = "cd " + shell_quote(dir.string()) + " && " + prefix + " " +
                          shell_quote(exe) + " < " + shell_quote(in.string()) + " > " +
                          shell_quote(out.string()) + " 2>&1";
  const int raw = std::system(cmd.c_str());
  run_result r;
  if (raw != -1 && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
  r.console = read_file(out);
  std::error_code ec;
  fs::remove(in, ec);
  fs::remove(out, ec);
  return r;
}

#endif  // FIXFIR_EXE

/// Number of lines (line breaks) in `text`.
inline std::size_t line_count(const std::string& text) {
  std::size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

}  // namespace fixfir_test
