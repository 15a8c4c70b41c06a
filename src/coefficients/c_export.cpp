// The filter as a C99 file: its coefficient words, a delay line in a state struct, and one
// step that gives the output word for a sample word.
//
// Scaling and overflow: each product of a 32-bit word and a sample word is exact in int64_t.
// A wrapping accumulator sums them modulo 2^64 in uint64_t and keeps the low A bits; a
// saturating one sums them exactly, in int64_t when every sum fits 64 bits
// (accumulator_bits_needed), else in two 64-bit words, and clamps. The generated code has no
// undefined or implementation-defined step: signed values become unsigned (defined) and
// unsigned values become signed only within range.
#include <string>

#include "fixfir/coefficients/filter_export.h"
#include "fixfir/common/checks.h"
#include "output_plan.h"

namespace fixfir {

namespace {

using std::to_string;

// An int64_t constant: the minimum is an expression, since 9223372036854775808 alone does
// not fit.
std::string c64(std::int64_t v) {
  if (v == INT64_MIN) return "(-INT64_C(9223372036854775807) - 1)";
  return "INT64_C(" + to_string(v) + ")";
}

std::int64_t word_max(std::int32_t bits) {
  return static_cast<std::int64_t>((std::uint64_t{1} << (bits - 1)) - 1);
}

// The low `bits` bits (1 to 63) set, in hexadecimal.
std::string hex_mask(std::int32_t bits) {
  static constexpr char digits[] = "0123456789abcdef";
  std::uint64_t m = (std::uint64_t{1} << bits) - 1;
  std::string t;
  do {
    t.insert(t.begin(), digits[m & 15]);
    m >>= 4;
  } while (m != 0);
  return t;
}

std::string prologue(const fixed_filter& f, std::int32_t out_bits) {
  const std::size_t n = f.coefficients.size();
  std::string t;
  t += "/* fixfir_filter: a " + to_string(n) +
       "-tap FIR filter in C99, bit-exact to fixfir's model of its datapath.\n";
  t += " * Datapath: " + datapath_words(f.path) + ".\n";
  t += " * fixfir_filter_step takes a sample word (samples are quantized before it) and\n";
  t += " * returns the output word, " + to_string(out_bits) + " bits.\n */\n";
  t += "#include <stdint.h>\n\n";
  t += "#define FIXFIR_FILTER_TAPS " + to_string(n) + "\n";
  t += "#define FIXFIR_FILTER_SAMPLE_BITS " + to_string(f.path.sample.bits) + "\n";
  t += "#define FIXFIR_FILTER_OUTPUT_BITS " + to_string(out_bits) + "\n\n";
  t += "/* The coefficient words, tap 0 (the newest sample's) first. */\n";
  t += "static const int32_t fixfir_filter_coefficients[FIXFIR_FILTER_TAPS] = {\n";
  for (std::size_t j = 0; j < n; ++j) {
    const std::int32_t c = f.coefficients[j];
    t += j % 8 == 0 ? "    " : " ";
    t += c == INT32_MIN ? std::string("(-2147483647 - 1)") : to_string(c);
    t += ",";
    if (j % 8 == 7 || j + 1 == n) t += "\n";
  }
  t += "};\n\n";
  t += "/* The last FIXFIR_FILTER_TAPS sample words, the newest first. */\n";
  t += "typedef struct fixfir_filter_state {\n    int32_t line[FIXFIR_FILTER_TAPS];\n";
  t += "} fixfir_filter_state;\n\n";
  t += "/* An empty delay line. */\n";
  t += "void fixfir_filter_init(fixfir_filter_state *state)\n{\n";
  t += "    int j;\n    for (j = 0; j < FIXFIR_FILTER_TAPS; ++j) state->line[j] = 0;\n}\n\n";
  return t;
}

// Two's-complement u as int64_t without an out-of-range conversion.
const char* const to_signed = "(u >> 63) ? -(int64_t)(~u) - 1 : (int64_t)u";

// The accumulator word `acc` from the delay line.
std::string accumulator_text(const fixed_filter& f, const filter_structure& s) {
  const std::int32_t a = f.path.accumulator_bits;
  std::string t = "    /* The accumulator word, " + to_string(a) + " bits. */\n";
  t += "    int64_t acc;\n";
  const std::string product = "(int64_t)fixfir_filter_coefficients[j] * state->line[j]";
  if (f.path.accumulator_overflow == overflow_mode::wrap) {
    t += "    {\n        uint64_t u = 0;\n";
    t += "        for (j = 0; j < FIXFIR_FILTER_TAPS; ++j) u += (uint64_t)(" + product + ");\n";
    if (a < 64) {
      t += "        /* The low " + to_string(a) + " bits, sign-extended. */\n";
      t += "        u &= UINT64_C(0x" + hex_mask(a) + ");\n";
      t += "        if (u >> " + to_string(a - 1) + ") u |= ~UINT64_C(0x" + hex_mask(a) + ");\n";
    }
    t += "        acc = " + std::string(to_signed) + ";\n    }\n";
    return t;
  }
  const std::string hi = c64(word_max(a));
  const std::string lo = c64(-word_max(a) - 1);
  if (s.sum_bits <= 64) {
    t += "    {\n        /* Every partial sum fits " + to_string(s.sum_bits) + " bits. */\n";
    t += "        int64_t sum = 0;\n";
    t += "        for (j = 0; j < FIXFIR_FILTER_TAPS; ++j) sum += " + product + ";\n";
    t += "        acc = sum > " + hi + " ? " + hi + " : sum < " + lo + " ? " + lo + " : sum;\n";
    t += "    }\n";
    return t;
  }
  t += "    {\n        /* The exact sum needs " + to_string(s.sum_bits) +
       " bits: it is kept in two words, high:low. */\n";
  t += "        uint64_t low = 0, high = 0;\n";
  t += "        for (j = 0; j < FIXFIR_FILTER_TAPS; ++j) {\n";
  t += "            const int64_t p = " + product + ";\n";
  t += "            const uint64_t u = (uint64_t)p;\n";
  t += "            low += u;\n";
  t += "            high += (p < 0 ? ~UINT64_C(0) : 0) + (low < u ? 1 : 0);\n";
  t += "        }\n";
  t += "        if (high == (low >> 63 ? ~UINT64_C(0) : 0)) {\n";
  t += "            const uint64_t u = low;\n";
  t += "            const int64_t sum = " + std::string(to_signed) + ";\n";
  t += "            acc = sum > " + hi + " ? " + hi + " : sum < " + lo + " ? " + lo + " : sum;\n";
  t += "        } else {\n";
  t += "            acc = (high >> 63) ? " + lo + " : " + hi + ";\n";
  t += "        }\n    }\n";
  return t;
}

// q = acc ÷ 2^r rounded as the stage says, for r of 1 to 63.
std::string right_text(const output_plan& p) {
  const std::string r = to_string(p.right);
  std::string t = "    {\n        /* Shifted right " + r + " bits, rounded " +
                  output_rounding_words(p.rounding) + ". */\n";
  t += "        const uint64_t v = (uint64_t)acc;\n";
  t += "        const uint64_t u = acc < 0 ? ~(~v >> " + r + ") : v >> " + r + ";\n";
  t += "        q = " + std::string(to_signed) + ";\n";
  if (p.rounding == output_rounding::floor) return t + "    }\n";
  t += "        {\n            const uint64_t rest = v & UINT64_C(0x" + hex_mask(p.right) + ");\n";
  if (p.rounding != output_rounding::toward_zero)
    t += "            const uint64_t half = UINT64_C(1) << " + to_string(p.right - 1) + ";\n";
  switch (p.rounding) {
    case output_rounding::toward_zero:
      t += "            if (acc < 0 && rest != 0) q += 1;\n";
      break;
    case output_rounding::nearest:
      t += "            if (rest > half || (rest == half && q >= 0)) q += 1;\n";
      break;
    case output_rounding::convergent:
      t += "            if (rest > half || (rest == half && (u & 1) != 0)) q += 1;\n";
      break;
    case output_rounding::floor:
      break;
  }
  return t + "        }\n    }\n";
}

// q from acc: the output stage's shift and rounding (a left shift leaves it to the fit).
std::string shift_text(const output_plan& p) {
  if (p.left > 0 || p.right == 0) return "    q = acc;\n";
  if (p.right < 64) return right_text(p);
  // Past 63 bits |acc| ÷ 2^r is at most 1/2, and 1/2 only for -2^63 ÷ 2^64.
  switch (p.rounding) {
    case output_rounding::floor:
      return "    q = acc < 0 ? -1 : 0;\n";
    case output_rounding::nearest:
      return p.right == 64 ? "    q = acc == " + c64(INT64_MIN) + " ? -1 : 0;\n"
                           : "    q = 0;\n    (void)acc;\n";
    case output_rounding::toward_zero:
    case output_rounding::convergent:
      break;
  }
  return "    q = 0;\n    (void)acc;\n";
}

// The output word from q (and acc, for a left shift), fitted to the output's bits.
std::string fit_text(const output_plan& p) {
  const std::int32_t y = p.bits;
  const std::string hi = c64(word_max(y));
  const std::string lo = c64(-word_max(y) - 1);
  std::string t;
  const std::string mask = y < 64 ? "UINT64_C(0x" + hex_mask(y) + ")" : "";
  const auto wrapped = [&](const std::string& bits) {
    std::string w = "    {\n        uint64_t u = " + bits + ";\n";
    if (y < 64) {
      w += "        u &= " + mask + ";\n";
      w += "        if (u >> " + to_string(y - 1) + ") u |= ~" + mask + ";\n";
    }
    return w + "        return " + to_signed + ";\n    }\n";
  };
  if (p.left > 0) {
    // A shift of all 64 bits leaves none of q in the word.
    if (p.left >= 64 && p.overflow == overflow_mode::wrap) return "    (void)q;\n    return 0;\n";
    const std::string shifted = p.left < 64 ? "(uint64_t)q << " + to_string(p.left) : "0";
    if (p.overflow == overflow_mode::wrap) return wrapped(shifted);
    // q × 2^l fits y bits when q is within ±2^(y-1-l); when l = y only 0 fits.
    const std::int32_t room = y - 1 - p.left;
    const std::string top = room >= 0 ? c64(word_max(room + 1)) : "0";
    const std::string bottom = room >= 0 ? c64(-word_max(room + 1) - 1) : "0";
    t += "    if (q > " + top + ") return " + hi + ";\n";
    t += "    if (q < " + bottom + ") return " + lo + ";\n";
    return t + wrapped(shifted);
  }
  if (y >= 64) return "    return q;\n";
  if (p.overflow == overflow_mode::wrap) return wrapped("(uint64_t)q");
  return "    return q > " + hi + " ? " + hi + " : q < " + lo + " ? " + lo + " : q;\n";
}

}  // namespace

std::string c_filter_text(const fixed_filter& f) {
  FIXFIR_EXPECTS(!f.coefficients.empty());
  const filter_structure s = structure_of(f);
  const output_plan p = output_plan_of(f.path);
  std::string t = prologue(f, p.bits);
  t += "/* Takes the next sample word and returns the output word. */\n";
  t += "int64_t fixfir_filter_step(fixfir_filter_state *state, int32_t sample)\n{\n";
  t += "    int j;\n";
  t += "    for (j = FIXFIR_FILTER_TAPS - 1; j > 0; --j) state->line[j] = state->line[j - 1];\n";
  t += "    state->line[0] = sample;\n";
  t += accumulator_text(f, s);
  if (!p.staged) return t + "    return acc;\n}\n";
  t += "    /* The output stage. */\n    {\n    int64_t q;\n";
  t += shift_text(p) + fit_text(p);
  return t + "    }\n}\n";
}

}  // namespace fixfir
