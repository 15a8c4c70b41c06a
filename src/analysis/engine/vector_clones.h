#pragma once
// Each vector kernel is compiled for AVX-512, for AVX2 and for plain x86-64, and the loader
// picks the best the processor has. The clones differ only in the instructions the compiler
// may use, so every clone gives the same result. Defining FIXFIR_PORTABLE_KERNELS builds the
// plain version alone, so that the tests can exercise it on a machine that would otherwise
// pick a vector clone; other processors get the plain version too.

//
// clang 14 (the fuzz build's compiler) makes one body of the first target out of the
// attribute, with no dispatch, which faults on a processor without AVX-512: under clang
// the plain version is built alone.
#if defined(FIXFIR_PORTABLE_KERNELS) || !defined(__x86_64__) || defined(__clang__)
#define FIXFIR_KERNEL_CLONES
#else
#define FIXFIR_KERNEL_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#endif
