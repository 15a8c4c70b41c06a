// Fuzzes the answer reader: five "%d" answers in a row (the four questions and the
// sweep question), read from text and from a C stream, must match the model in value,
// success and end-of-input after every read.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fixfir/common/text_scan.h"
#include "input_models.h"

namespace {

constexpr int answers = 5;

[[noreturn]] void mismatch(const char* source, int answer, const char* what) {
  std::fprintf(stderr, "answer reader (%s) differs from the model at answer %d: %s\n", source,
               answer, what);
  std::abort();
}

void check_against_model(fixfir::char_input& in, const std::string& text, const char* source) {
  std::size_t pos = 0;
  bool model_eof = false;
  for (int i = 0; i < answers; ++i) {
    std::int32_t want = 0;
    std::int32_t got = 0;
    const bool model_ok = fixfir_test::model_decimal(text, pos, model_eof, want);
    const bool ok = fixfir::scan_decimal(in, got);
    if (ok != model_ok) mismatch(source, i, "success");
    if (got != want) mismatch(source, i, "value");
    if (in.eof != model_eof) mismatch(source, i, "end of input");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  fixfir::char_input from_text = fixfir::text_input(text);
  check_against_model(from_text, text, "text");

  // The dialogue reads standard input through a stream; an empty buffer cannot be
  // opened as one, and is covered by the text case.
  if (size > 0) {
    std::string buffer = text;
    std::FILE* stream = fmemopen(buffer.data(), buffer.size(), "r");
    if (stream != nullptr) {
      fixfir::char_input from_stream = fixfir::stream_input(stream);
      check_against_model(from_stream, text, "stream");
      std::fclose(stream);
    }
  }
  return 0;
}
