#pragma once

// What the target and the compiler give the code, behind the project's own
// names: which vector instructions it may use (SSE2 on x86-64, NEON on aarch64,
// unless ORVANTIS_PORTABLE, the CMake option of that name, asks for the scalar
// code that every target runs), and the attributes, branch hints and prefetch
// of GCC and Clang, the two compilers the build accepts.

#if defined(__SSE2__) && !defined(ORVANTIS_PORTABLE)
#define ORVANTIS_SSE2 1
#include <emmintrin.h>
#endif

// x86-64 code may also hold functions for AVX2, compiled for it whatever the
// target (ORVANTIS_TARGET_AVX2) and called only where the processor has it. A
// function that such a function calls with AVX2 vectors as arguments or
// results is compiled for AVX2 too, or inlined into it (ORVANTIS_ALWAYS_INLINE):
// a function compiled without AVX2 passes them otherwise.
#if defined(ORVANTIS_SSE2) && defined(__x86_64__)
#define ORVANTIS_AVX2 1
#include <immintrin.h>
#define ORVANTIS_TARGET_AVX2 __attribute__((target("avx2")))
#endif

#if defined(__aarch64__) && defined(__ARM_NEON) && !defined(ORVANTIS_PORTABLE)
#define ORVANTIS_NEON 1
#include <arm_neon.h>
#endif

// Inlined into every caller, or never inlined, whatever the optimiser's cost model says.
#define ORVANTIS_ALWAYS_INLINE __attribute__((always_inline)) inline
#define ORVANTIS_NOINLINE __attribute__((noinline))

// Asks for the cache line that holds the address, for reading; it never faults.
#define ORVANTIS_PREFETCH(address) __builtin_prefetch(address)

// Branch hints: the condition is almost always true, or almost always false.
#define ORVANTIS_LIKELY(condition) __builtin_expect(static_cast<bool>(condition), 1)
#define ORVANTIS_UNLIKELY(condition) __builtin_expect(static_cast<bool>(condition), 0)
