#include "fixfir/drivers/analysis_file.h"

#include <new>

#include "fixfir/common/output_file.h"

namespace fixfir {

status write_analysis_file(const char* name, std::FILE* console,
                           const text_producer& produce) noexcept {
  output_file file;
  bool opened = false;
  bool cannot_open = false;
  status result = status::ok;
  try {
    const text_writer write = [&](std::string_view text) {
      if (!opened) {
        if (!open_output(file, name)) {
          cannot_open = true;
          return false;
        }
        opened = true;
      }
      write_output(file, text);
      return true;
    };
    if (!produce(write)) {
      result = status::out_of_memory;
    } else if (!opened) {
      write({});  // a producer with no text at all still leaves an empty file
    }
  } catch (const std::bad_alloc&) {
    result = status::out_of_memory;
  }
  if (cannot_open) {
    say(console, cannot_open_message);
    return status::failure;
  }
  if (!opened) return result;
  if (result != status::ok) {
    discard_output(file);  // a text cut short by memory does not replace the earlier file
    return result;
  }
  if (!close_output(file)) {
    say(console, cannot_write_message);
    return status::failure;
  }
  return result;
}

}  // namespace fixfir
