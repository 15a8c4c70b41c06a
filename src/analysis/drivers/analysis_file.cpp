#include "analysis_file.h"

#include <new>

#include "output_file.h"

namespace fixfir {

status write_analysis_file(const char* name, std::FILE* console,
                           const text_producer& produce) noexcept {
  output_file file;
  if (!open_output(file, name)) {
    say(console, cannot_open_message);
    return status::failure;
  }
  status result = status::ok;
  try {
    if (!produce([&file](std::string_view text) { write_output(file, text); })) {
      result = status::out_of_memory;
    }
  } catch (const std::bad_alloc&) {
    result = status::out_of_memory;
  }
  if (!close_output(file) && result == status::ok) {
    say(console, cannot_write_message);
    return status::failure;
  }
  return result;
}

}  // namespace fixfir
