// Fuzzes the tap file reader: any text must parse without a sanitizer finding, and give
// the count, taps and number of "improperly formatted file" messages of the model.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "input_models.h"
#include "tap_file.h"

namespace {

// Counts above this are skipped: the reader's allocation is the only cost that grows
// with the count, and the dialogue's handling of a failed one is tested end to end.
constexpr std::int32_t max_count = 1 << 16;
// The console text is checked when it stays small.
constexpr std::int32_t max_checked_console = 4096 * 3;

[[noreturn]] void mismatch(const char* what) {
  std::fprintf(stderr, "tap reader differs from the model: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (fixfir_test::model_stated_count(text) > max_count) return -1;
  const fixfir_test::tap_model expected = fixfir_test::model_tap_text(text);

  char* console_text = nullptr;
  std::size_t console_size = 0;
  std::FILE* console = nullptr;
  if (expected.count <= max_checked_console) console = open_memstream(&console_text, &console_size);

  fixfir::tap_list list;
  std::uint64_t messages = 0;
  const fixfir::tap_file_status status = fixfir::parse_tap_text(text, list, console, messages);
  if (status != fixfir::tap_file_status::ok) mismatch("status");
  if (list.count != expected.count) mismatch("count");
  if (list.taps.size != expected.taps.size()) mismatch("tap array size");
  if (list.taps.size != 0 &&
      std::memcmp(list.taps.begin(), expected.taps.data(), list.taps.size * sizeof(float)) != 0) {
    mismatch("taps");
  }
  if (messages != expected.messages) mismatch("message count");

  if (console != nullptr) {
    std::fclose(console);
    std::string want;
    for (std::uint64_t i = 0; i < expected.messages; ++i) want += "improperly formatted file";
    if (std::string_view(console_text, console_size) != want) mismatch("console text");
    std::free(console_text);
  }
  return 0;
}
