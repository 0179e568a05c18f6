// Functions whose loops the compiler turns into vector code are built more
// than once on x86-64 Linux with GCC (target_clones): for AVX2 and for the
// baseline, and for AVX-512 where wider vectors pay, and the best one the
// processor runs is picked when the program starts. Elsewhere they are built
// once, for the baseline.
#pragma once

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__)
#define QUORVEL_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#define QUORVEL_WIDE_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define QUORVEL_VECTOR_CLONES
#define QUORVEL_WIDE_VECTOR_CLONES
#endif
