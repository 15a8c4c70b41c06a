/* Runs the C filter that `fixfir-report --export fixfir_filter.c` writes on sample words:
 * one two's-complement hexadecimal word a line on standard input (input.mem), the output
 * words on standard output in the same form (what expected.mem holds).
 *
 *   gcc -std=c99 -Wall -Wextra -pedantic -I DIR examples/filter_driver.c -o filter_run
 *   ./filter_run < input.mem > output.mem
 *
 * where DIR holds fixfir_filter.c. */
#include <stdio.h>
#include <stdlib.h>

#include "fixfir_filter.c"

int main(void)
{
    static const char digits[] = "0123456789abcdef";
    const int width = (FIXFIR_FILTER_OUTPUT_BITS + 3) / 4;
    fixfir_filter_state state;
    char line[64];
    fixfir_filter_init(&state);
    while (fgets(line, sizeof line, stdin) != NULL) {
        char *end;
        const uint64_t pattern = strtoull(line, &end, 16);
        const uint64_t sign = UINT64_C(1) << (FIXFIR_FILTER_SAMPLE_BITS - 1);
        /* The word's value: its pattern less 2^W when the sign bit is set. */
        const int64_t word = (int64_t)(pattern & (sign - 1)) - (int64_t)(pattern & sign);
        const uint64_t out = (uint64_t)fixfir_filter_step(&state, (int32_t)word);
        char text[20];
        int k;
        if (end == line) {
            fprintf(stderr, "not a hexadecimal word: %s", line);
            return 1;
        }
        for (k = 0; k < width; ++k) text[k] = digits[(out >> (4 * (width - 1 - k))) & 15];
        text[width] = '\n';
        text[width + 1] = '\0';
        /* The top digit keeps only the output word's bits. */
        if (FIXFIR_FILTER_OUTPUT_BITS % 4 != 0)
            text[0] = digits[(out >> (4 * (width - 1))) & ((1u << (FIXFIR_FILTER_OUTPUT_BITS % 4)) - 1)];
        fputs(text, stdout);
    }
    return 0;
}
