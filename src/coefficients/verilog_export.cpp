// The filter as a Verilog-2001 module: a delay line of sample words, folded pre-adders where
// the words are mirrored, constant multipliers, one sum, then the accumulator's wrap or clamp
// and the output stage, registered once (LATENCY 1).
//
// Scaling and overflow: every term is made in the sum's S bits from sign-extended operands,
// so the sum is exact modulo 2^S. For a wrapping accumulator S = A and that is its wrap; for
// a saturating one S holds every exact sum, which is then clamped to A bits.
#include <cstddef>
#include <string>
#include <vector>

#include "fixfir/coefficients/filter_export.h"
#include "fixfir/common/checks.h"
#include "output_plan.h"

namespace fixfir {

namespace {

using std::to_string;

// `v` as a sized signed Verilog literal of `bits` bits: its two's-complement pattern in
// hexadecimal, sign-extended past 64 bits.
std::string literal(std::int64_t v, std::int32_t bits) {
  static constexpr char digits[] = "0123456789abcdef";
  const std::int32_t count = (bits + 3) / 4;
  std::string hex;
  for (std::int32_t k = count; k-- > 0;) {
    const std::int32_t shift = std::min(4 * k, 60);
    // Past the value's 64 bits a digit is all sign (arithmetic shifts, C++20).
    std::int64_t digit = 4 * k >= 64 ? (v < 0 ? 15 : 0) : (v >> shift) & 15;
    // The top digit holds only the bits left of the width.
    if (k == count - 1) digit &= (std::int64_t{1} << (bits - 4 * k)) - 1;
    hex += digits[digit];
  }
  return to_string(bits) + "'sh" + hex;
}

// The largest and smallest values of a `bits`-bit word (2 to 64).
std::int64_t word_max(std::int32_t bits) {
  return static_cast<std::int64_t>((std::uint64_t{1} << (bits - 1)) - 1);
}
std::int64_t word_min(std::int32_t bits) { return -word_max(bits) - 1; }

std::string range(std::int32_t bits) { return "[" + to_string(bits - 1) + ":0]"; }

// Sample word `name` of `x` bits at `s` bits: sign-extended, or its low bits (the rest go
// to `unused`).
std::string widened(const std::string& name, std::int32_t x, std::int32_t s,
                    std::vector<std::string>& unused) {
  if (s == x) return name;
  if (s > x)
    return "{{" + to_string(s - x) + "{" + name + "[" + to_string(x - 1) + "]}}, " + name + "}";
  unused.push_back(name + "[" + to_string(x - 1) + ":" + to_string(s) + "]");
  return name + "[" + to_string(s - 1) + ":0]";
}

std::string header(const fixed_filter& f, const filter_structure& s, const output_plan& p) {
  const datapath& d = f.path;
  const char* const fold = s.symmetry == word_symmetry::symmetric ? "symmetric words folded"
                           : s.symmetry == word_symmetry::antisymmetric
                               ? "antisymmetric words folded"
                               : "no symmetry to fold";
  std::string t;
  t += "// fixfir_filter: a " + to_string(f.coefficients.size()) +
       "-tap FIR filter, bit-exact to fixfir's model of its datapath.\n";
  t += "// Datapath: " + datapath_words(d) + ".\n";
  if (p.staged) {
    t += "// Output stage: the accumulator shifted " +
         (p.left > 0 ? "left " + to_string(p.left) : "right " + to_string(p.right)) +
         " bits, rounded " + output_rounding_words(p.rounding) + ", to " + to_string(p.bits) +
         " bits (" + to_string(d.output.fraction_bits) + " fractional), overflow " +
         overflow_words(p.overflow) + ".\n";
  } else {
    t += "// Output: the accumulator word, " + to_string(p.bits) + " bits (" +
         to_string(d.coefficient.fraction_bits + d.sample.fraction_bits) + " fractional).\n";
  }
  t += "// Structure: direct form, " + std::string(fold) + ", " + to_string(s.multipliers) +
       (s.multipliers == 1 ? " multiplier" : " multipliers") + "; the sum is made in " +
       to_string(s.sum_bits) + " bits.\n";
  t += "// Latency: " + to_string(MODULE_LATENCY) +
       " clock from an in_valid sample to its out_valid output.\n";
  t += "// in_sample is a sample word: samples are quantized before this module.\n";
  return t;
}

std::string ports(const fixed_filter& f, std::int32_t out_bits) {
  std::string t = "module fixfir_filter (\n";
  t += "    input  wire clk,\n";
  t += "    input  wire rst,  // synchronous, active high: clears the delay line and out_valid\n";
  t += "    input  wire in_valid,  // one sample per clock while high\n";
  t += "    input  wire signed " + range(f.path.sample.bits) + " in_sample,\n";
  t += "    output reg  out_valid,\n";
  t += "    output reg  signed " + range(out_bits) + " out_sample\n);\n";
  t += "    localparam LATENCY = " + to_string(MODULE_LATENCY) + ";\n";
  t += "    // For a wrapper or testbench to read; the module itself is one register deep.\n";
  t += "    wire [31:0] unused_latency = LATENCY;\n\n";
  return t;
}

// The products' operands (pre-added where folded), the products and their sum, in S bits.
std::string sum_text(const fixed_filter& f, const filter_structure& s,
                     std::vector<std::string>& unused) {
  const std::size_t n = f.coefficients.size();
  const std::int32_t x = f.path.sample.bits;
  const std::int32_t sb = s.sum_bits;
  const std::string w = "wire signed " + range(sb) + " ";
  std::string t = "    // The products, tap 0 (the newest sample's) first";
  t += s.symmetry == word_symmetry::none ? ".\n" : ", mirrored samples pre-added.\n";
  std::vector<std::string> products;
  for (std::size_t j = 0; j < n; ++j) {
    const std::size_t mirror = n - 1 - j;
    const bool folded = s.symmetry != word_symmetry::none;
    if (folded && j > mirror) break;
    if (s.symmetry == word_symmetry::antisymmetric && j == mirror) break;  // its word is 0
    const std::string k = to_string(j);
    std::string operand = widened("x" + k, x, sb, unused);
    if (folded && j < mirror) {
      const char* const op = s.symmetry == word_symmetry::symmetric ? " + " : " - ";
      operand += op + widened("x" + to_string(mirror), x, sb, unused);
    }
    t += "    localparam signed " + range(sb) + " C" + k + " = " + literal(f.coefficients[j], sb) +
         ";  // " + to_string(f.coefficients[j]) + "\n";
    t += "    " + w + "t" + k + " = " + operand + ";\n";
    t += "    " + w + "p" + k + " = t" + k + " * C" + k + ";\n";
    products.push_back("p" + k);
  }
  t += "    " + w + "sum =";
  for (std::size_t k = 0; k < products.size(); ++k) {
    t += (k % 8 == 0 && k > 0 ? "\n        " : " ") + std::string(k > 0 ? "+ " : "") + products[k];
  }
  return t + ";\n\n";
}

// A signed value clamped to a narrower word: `from` (of `from_bits`) limited to the range
// of `to_bits` as `clamped`, then narrowed to `to` (of `to_bits`); the limits are
// `prefix`_MAX and `prefix`_MIN. The clamped value's top bits are listed as unused.
struct clamp_names {
  const char* from;
  std::int32_t from_bits;
  const char* prefix;
  const char* clamped;
  const char* to;
  std::int32_t to_bits;
};

std::string clamp_text(const clamp_names& c, std::vector<std::string>& unused) {
  const std::string most = std::string(c.prefix) + "_MAX";
  const std::string least = std::string(c.prefix) + "_MIN";
  const std::string from = c.from;
  std::string t;
  t += "    localparam signed " + range(c.from_bits) + " " + most + " = " +
       literal(word_max(c.to_bits), c.from_bits) + ";\n";
  t += "    localparam signed " + range(c.from_bits) + " " + least + " = " +
       literal(word_min(c.to_bits), c.from_bits) + ";\n";
  t += "    wire signed " + range(c.from_bits) + " " + c.clamped + " = " + from + " > " + most +
       " ? " + most + " : " + from + " < " + least + " ? " + least + " : " + from + ";\n";
  t += "    wire signed " + range(c.to_bits) + " " + c.to + " = " + c.clamped + range(c.to_bits) +
       ";\n\n";
  unused.push_back(std::string(c.clamped) + "[" + to_string(c.from_bits - 1) + ":" +
                   to_string(c.to_bits) + "]");
  return t;
}

// The accumulator word from the sum: the sum itself (a wrapping one, or a saturating one
// that cannot leave A bits), or the sum clamped to A bits.
std::string accumulator_text(const fixed_filter& f, const filter_structure& s,
                             std::vector<std::string>& unused) {
  const std::int32_t a = f.path.accumulator_bits;
  const std::int32_t sb = s.sum_bits;
  if (sb == a) return "    wire signed " + range(a) + " acc = sum;\n\n";
  FIXFIR_EXPECTS(sb > a && f.path.accumulator_overflow == overflow_mode::saturate);
  return "    // The exact sum clamped to the accumulator's " + to_string(a) + " bits.\n" +
         clamp_text({"sum", sb, "ACC", "clamped", "acc", a}, unused);
}

// The increment that rounds `q` = ax >>> r as `rounding` says, from the bits shifted out.
std::string increment(const output_plan& p, std::int32_t e) {
  const std::string sign = "ax[" + to_string(e - 1) + "]";
  const std::string half = "ax[" + to_string(p.right - 1) + "]";
  const std::string below = p.right >= 2 ? "(|ax[" + to_string(p.right - 2) + ":0])" : "1'b0";
  switch (p.rounding) {
    case output_rounding::toward_zero:
      return sign + " & (|ax[" + to_string(p.right - 1) + ":0])";
    case output_rounding::nearest:
      return half + " & (" + below + " | ~" + sign + ")";
    case output_rounding::convergent:
      return half + " & (" + below + " | q[0])";
    case output_rounding::floor:
      break;
  }
  return "1'b0";
}

// The output stage's shift and rounding: `rounded`, of the width returned.
std::int32_t shift_text(const fixed_filter& f, const output_plan& p, std::string& t) {
  const std::int32_t a = f.path.accumulator_bits;
  if (p.left > 0) {
    const std::int32_t e = a + p.left;
    t += "    wire signed " + range(e) + " rounded = {acc, " + to_string(p.left) + "'b0};\n";
    return e;
  }
  if (p.right == 0) {
    t += "    wire signed " + range(a) + " rounded = acc;\n";
    return a;
  }
  const std::int32_t e = std::max(a, p.right) + 1;
  std::vector<std::string> none;  // e > a: every bit of acc is used
  t += "    wire signed " + range(e) + " ax = " + widened("acc", a, e, none) + ";\n";
  t += "    wire signed " + range(e) + " q = ax >>> " + to_string(p.right) + ";\n";
  t += "    wire inc = " + increment(p, e) + ";\n";
  t += "    wire signed " + range(e) + " rounded = q + {" + to_string(e - 1) + "'b0, inc};\n";
  return e;
}

// The output word `y` from the accumulator word.
std::string output_text(const fixed_filter& f, const output_plan& p,
                        std::vector<std::string>& unused) {
  if (!p.staged) return "    wire signed " + range(p.bits) + " y = acc;\n\n";
  std::string t = "    // The output stage.\n";
  const std::int32_t e = shift_text(f, p, t);
  const std::int32_t y = p.bits;
  if (e <= y) {
    t += "    wire signed " + range(y) + " y = " + widened("rounded", e, y, unused) + ";\n\n";
    return t;
  }
  if (p.overflow == overflow_mode::wrap) {
    t += "    wire signed " + range(y) + " y = rounded" + range(y) + ";\n\n";
    unused.push_back("rounded[" + to_string(e - 1) + ":" + to_string(y) + "]");
    return t;
  }
  return t + clamp_text({"rounded", e, "OUT", "fitted", "y", y}, unused);
}

// The delay line and the output register.
std::string registers_text(const fixed_filter& f, std::int32_t out_bits) {
  const std::size_t n = f.coefficients.size();
  const std::int32_t x = f.path.sample.bits;
  std::string t;
  t += "    always @(posedge clk) begin\n";
  t += "        if (rst) begin\n";
  for (std::size_t j = 1; j < n; ++j)
    t += "            x" + to_string(j) + " <= " + to_string(x) + "'sd0;\n";
  t += "            out_valid <= 1'b0;\n";
  t += "            out_sample <= " + to_string(out_bits) + "'sd0;\n";
  t += "        end else begin\n";
  t += "            out_valid <= in_valid;\n";
  t += "            if (in_valid) begin\n";
  for (std::size_t j = n - 1; j >= 1; --j)
    t += "                x" + to_string(j) + " <= x" + to_string(j - 1) + ";\n";
  t += "                out_sample <= y;\n";
  t += "            end\n        end\n    end\n";
  return t;
}

}  // namespace

std::string verilog_module_text(const fixed_filter& f) {
  FIXFIR_EXPECTS(!f.coefficients.empty());
  const filter_structure s = structure_of(f);
  const output_plan p = output_plan_of(f.path);
  const std::size_t n = f.coefficients.size();
  const std::int32_t x = f.path.sample.bits;
  std::vector<std::string> unused;
  std::string t = header(f, s, p) + ports(f, p.bits);
  t += "    // The delay line: x0 is the newest sample, xk the one k samples older.\n";
  t += "    wire signed " + range(x) + " x0 = in_sample;\n";
  for (std::size_t j = 1; j < n; ++j)
    t += "    reg  signed " + range(x) + " x" + to_string(j) + ";\n";
  t += "\n" + sum_text(f, s, unused);
  t += accumulator_text(f, s, unused);
  t += output_text(f, p, unused);
  if (!unused.empty()) {
    t += "    // Bits the arithmetic does not need.\n    wire unused_bits = &{1'b0";
    for (const std::string& u : unused) t += ", " + u;
    t += "};\n\n";
  }
  t += registers_text(f, p.bits);
  return t + "endmodule\n";
}

}  // namespace fixfir
