// fixfir: shows what 32-bit fixed-point arithmetic does to an FIR filter.
#include "dialogue.h"

int main() { return fixfir::run_dialogue(); }
