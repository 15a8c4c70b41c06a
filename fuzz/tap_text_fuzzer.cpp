// Fuzzes the tap file reader: any text must parse without a sanitizer finding, and give
// the count, taps and number of "improperly formatted file" messages of the model, and the
// report's check of the taps must refuse the first that is not finite. Both
// ways in are checked: parse_tap_text over the text, and read_tap_file over the same
// bytes written to "taps.txt" in a private directory; and the report's reading of that
// file, which also counts the numbers after the taps.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "fixfir/coefficients/tap_file.h"
#include "input_models.h"

namespace {

// Counts above this are skipped: the reader's allocation is the only cost that grows
// with the count, and the dialogue's handling of a failed one is tested end to end.
constexpr std::int32_t max_count = 1 << 16;
// The console text is checked when it stays small.
constexpr std::int32_t max_checked_console = 4096 * 3;

[[noreturn]] void mismatch(const char* way, const char* what) {
  std::fprintf(stderr, "tap reader (%s) differs from the model: %s\n", way, what);
  std::abort();
}

// Where "taps.txt" is written, and where the fuzzer itself runs (so that relative
// corpus paths keep working); each read_tap_file call moves between the two.
char tap_path[] = "/tmp/fixfir-fuzz-XXXXXX";
int tap_directory = -1;
int own_directory = -1;

void remove_tap_directory() {
  unlinkat(tap_directory, "taps.txt", 0);
  rmdir(tap_path);
}

using reader = fixfir::status (*)(std::string_view, fixfir::tap_list&, std::FILE*, std::uint64_t&);

fixfir::status from_text(std::string_view text, fixfir::tap_list& list, std::FILE* console,
                         std::uint64_t& messages) {
  return fixfir::parse_tap_text(text, list, console, messages);
}

// read_tap_file does not count its messages; they are checked through the console only.
fixfir::status from_file(std::string_view text, fixfir::tap_list& list, std::FILE* console,
                         std::uint64_t& messages) {
  if (fchdir(tap_directory) != 0) std::abort();
  std::FILE* f = std::fopen("taps.txt", "wb");
  if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size() ||
      std::fclose(f) != 0) {
    std::abort();
  }
  const fixfir::status status = fixfir::read_tap_file(list, console);
  if (fchdir(own_directory) != 0) std::abort();
  messages = UINT64_MAX;
  return status;
}

void check(const char* way, reader read, std::string_view text,
           const fixfir_test::tap_model& expected) {
  char* console_text = nullptr;
  std::size_t console_size = 0;
  std::FILE* console = nullptr;
  if (expected.count <= max_checked_console) console = open_memstream(&console_text, &console_size);

  fixfir::tap_list list;
  std::uint64_t messages = 0;
  if (read(text, list, console, messages) != fixfir::status::ok) mismatch(way, "status");
  if (list.count != expected.count) mismatch(way, "count");
  if (list.taps.size != expected.taps.size()) mismatch(way, "tap array size");
  if (list.taps.size != 0 &&
      std::memcmp(list.taps.begin(), expected.taps.data(), list.taps.size * sizeof(float)) != 0) {
    mismatch(way, "taps");
  }
  if (messages != UINT64_MAX && messages != expected.messages) mismatch(way, "message count");
  // The report and the module refuse the first tap that is not finite, by its index.
  std::size_t first_infinite = 0;
  while (first_infinite < expected.taps.size() && std::isfinite(expected.taps[first_infinite]))
    ++first_infinite;
  const fixfir::outcome finite =
      fixfir::check_finite_taps(std::span<const float>(list.taps.begin(), list.taps.size));
  if (finite.ok() != (first_infinite == expected.taps.size())) mismatch(way, "finite taps");
  if (!finite.ok() &&
      finite.failure().message.rfind(
          "tap " + std::to_string(first_infinite) + " is not a finite number (", 0) != 0)
    mismatch(way, "the index of a tap that is not finite");

  if (console != nullptr) {
    std::fclose(console);
    std::string want;
    // Written once a slot, up to a bound however many slots are left.
    const std::uint64_t shown = std::min(expected.messages, fixfir::improperly_formatted_shown);
    for (std::uint64_t i = 0; i < shown; ++i) want += "improperly formatted file";
    if (std::string_view(console_text, console_size) != want) mismatch(way, "console text");
    std::free(console_text);
  }
}

// The report's way in: the file at its path, looking past the taps for more numbers.
void check_looking_past(const fixfir_test::tap_model& expected) {
  fixfir::tap_list list;
  fixfir::tap_read_facts facts;
  const std::string path = std::string(tap_path) + "/taps.txt";
  if (fixfir::read_tap_file_at(path, list, nullptr, facts, true) != fixfir::status::ok)
    mismatch("looking past", "status");
  if (list.count != expected.count) mismatch("looking past", "count");
  if (list.taps.size != 0 &&
      std::memcmp(list.taps.begin(), expected.taps.data(), list.taps.size * sizeof(float)) != 0) {
    mismatch("looking past", "taps");
  }
  if (facts.messages != expected.messages) mismatch("looking past", "message count");
  if (facts.numbers_after != expected.numbers_after) mismatch("looking past", "numbers after");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (mkdtemp(tap_path) == nullptr) std::abort();
  tap_directory = open(tap_path, O_RDONLY | O_DIRECTORY);
  own_directory = open(".", O_RDONLY | O_DIRECTORY);
  if (tap_directory == -1 || own_directory == -1) std::abort();
  std::atexit(remove_tap_directory);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (fixfir_test::model_stated_count(text) > max_count) return -1;
  const fixfir_test::tap_model expected = fixfir_test::model_tap_text(text);
  check("text", from_text, text, expected);
  check("file", from_file, text, expected);
  check_looking_past(expected);  // the file from_file wrote
  return 0;
}
