#include "fixfir/report/report_output.h"

#include <cerrno>
#include <cstring>

namespace fixfir {

namespace {

constexpr const char* program_name = "fixfir-report";

}  // namespace

void say_line(std::FILE* f, const std::string& line) {
  std::fputs(line.c_str(), f);
  std::fputc('\n', f);
}

void complain(std::FILE* err, const std::string& message) {
  say_line(err, std::string(program_name) + ": " + message);
}

bool put_out(std::FILE* out, const std::string& text, std::string& message) {
  errno = 0;
  std::fputs(text.c_str(), out);
  const bool failed = std::fflush(out) != 0 || std::ferror(out) != 0;
  if (failed) {
    message = std::string("cannot write to standard output: ") +
              (errno != 0 ? std::strerror(errno) : "write error");
  }
  return !failed;
}

}  // namespace fixfir
