// A self-checking testbench for fixfir_filter: input.mem's words in, one a clock, and every
// output compared with expected.mem's word on the same line.
#include <string>

#include "fixfir/coefficients/filter_export.h"
#include "fixfir/common/checks.h"

namespace fixfir {

std::string verilog_testbench_text(const fixed_filter& f) {
  FIXFIR_EXPECTS(!f.coefficients.empty());
  const std::string x = std::to_string(f.path.sample.bits);
  const std::string y = std::to_string(output_word_bits(f.path));
  std::string t;
  t += "// fixfir_filter_tb: drives fixfir_filter with the sample words of input.mem (one\n";
  t += "// two's-complement hexadecimal word a line), in_valid high on every clock, and compares\n";
  t += "// each output with the word on the same line of expected.mem. It ends with the line\n";
  t += "// \"P passed, F failed\"; a missing or extra expected word counts as a failure.\n";
  t += "module fixfir_filter_tb;\n";
  t += "    reg clk = 1'b0;\n";
  t += "    reg rst = 1'b1;\n";
  t += "    reg in_valid = 1'b0;\n";
  t += "    reg signed [" + x + "-1:0] in_sample = 0;\n";
  t += "    wire out_valid;\n";
  t += "    wire signed [" + y + "-1:0] out_sample;\n";
  t += "    reg [" + x + "-1:0] word;\n";
  t += "    reg [" + y + "-1:0] want;\n";
  t += "    integer inputs, expected, got, passed, failed, index, done;\n\n";
  t += "    fixfir_filter dut (.clk(clk), .rst(rst), .in_valid(in_valid), .in_sample(in_sample),\n";
  t += "                       .out_valid(out_valid), .out_sample(out_sample));\n\n";
  t += "    always #5 clk = ~clk;\n\n";
  t += "    // Outputs change on the rising edge and are compared on the falling one.\n";
  t += "    always @(negedge clk) begin\n";
  t += "        if (!rst && out_valid) begin\n";
  t += "            got = $fscanf(expected, \"%h\\n\", want);\n";
  t += "            if (got != 1) begin\n";
  t += "                failed = failed + 1;\n";
  t += "                if (failed <= 10) $display(\"output %0d: expected.mem has no word for "
       "it\", index);\n";
  t += "            end else if (out_sample !== want) begin\n";
  t += "                failed = failed + 1;\n";
  t += "                if (failed <= 10) $display(\"output %0d: expected %h, got %h\", index, "
       "want, out_sample);\n";
  t += "            end else begin\n";
  t += "                passed = passed + 1;\n";
  t += "            end\n";
  t += "            index = index + 1;\n";
  t += "        end\n";
  t += "    end\n\n";
  t += "    initial begin\n";
  t += "        passed = 0;\n        failed = 0;\n        index = 0;\n        done = 0;\n";
  t += "        inputs = $fopen(\"input.mem\", \"r\");\n";
  t += "        expected = $fopen(\"expected.mem\", \"r\");\n";
  t += "        if (inputs == 0 || expected == 0) begin\n";
  t += "            $display(\"cannot open input.mem or expected.mem\");\n";
  t += "            $display(\"0 passed, 1 failed\");\n";
  t += "            $finish;\n";
  t += "        end\n";
  t += "        @(negedge clk);\n";
  t += "        rst = 1'b0;\n";
  t += "        while (!done) begin\n";
  t += "            if ($fscanf(inputs, \"%h\\n\", word) == 1) begin\n";
  t += "                in_valid = 1'b1;\n";
  t += "                in_sample = word;\n";
  t += "                @(negedge clk);\n";
  t += "            end else begin\n";
  t += "                done = 1;\n";
  t += "            end\n";
  t += "        end\n";
  t += "        in_valid = 1'b0;\n";
  t += "        repeat (" + std::to_string(MODULE_LATENCY + 1) + ") @(negedge clk);\n";
  t += "        if ($fscanf(expected, \"%h\\n\", want) == 1) begin\n";
  t += "            failed = failed + 1;\n";
  t += "            $display(\"expected.mem has more words than input.mem\");\n";
  t += "        end\n";
  t += "        $display(\"%0d passed, %0d failed\", passed, failed);\n";
  t += "        $finish;\n";
  t += "    end\n";
  t += "endmodule\n";
  return t;
}

}  // namespace fixfir
