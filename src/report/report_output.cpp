#include "fixfir/report/report_output.h"

#include <cerrno>
#include <cstring>

#include "fixfir/report/printable_text.h"

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

outcome put_out(std::FILE* out, const std::string& text) {
  errno = 0;
  std::fputs(text.c_str(), out);
  if (std::fflush(out) == 0 && std::ferror(out) == 0) return success();
  const int code = errno;
  return error{error_kind::cannot_write,
               std::string("cannot write to standard output: ") +
                   (code != 0 ? std::strerror(code) : "write error"),
               code};
}

int exit_status(error_kind kind) noexcept {
  switch (kind) {
    case error_kind::bad_input:
      return 2;
    case error_kind::out_of_memory:
    case error_kind::cannot_write:
    case error_kind::interrupted:
    case error_kind::failed:
      break;
  }
  return 1;
}

int say_failure(std::FILE* err, const error& e) {
  complain(err, printable(e.message));
  return exit_status(e.kind);
}

}  // namespace fixfir
