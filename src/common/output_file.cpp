#include "fixfir/common/output_file.h"

namespace fixfir {

bool open_output(output_file& out, const char* name) noexcept {
  out.file = std::fopen(name, "w");
  out.failed = false;
  return out.file != nullptr;
}

void write_output(output_file& out, std::string_view data) noexcept {
  if (out.file == nullptr || data.empty()) return;
  if (std::fwrite(data.data(), 1, data.size(), out.file) != data.size()) out.failed = true;
}

bool close_output(output_file& out) noexcept {
  if (out.file == nullptr) return false;
  if (std::ferror(out.file) != 0) out.failed = true;
  if (std::fclose(out.file) != 0) out.failed = true;
  out.file = nullptr;
  return !out.failed;
}

void say(std::FILE* console, std::string_view message) noexcept {
  std::fwrite(message.data(), 1, message.size(), console);
  std::fflush(console);
}

}  // namespace fixfir
