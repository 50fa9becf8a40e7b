#pragma once

// What the target and the compiler give the code, behind the project's own
// names: which vector instructions it may use (SSE2 on x86-64, NEON on aarch64,
// unless ORVANTIS_PORTABLE, the CMake option of that name, asks for the scalar
// code that every target runs), and the attributes and branch hints of GCC
// and Clang, the two compilers the build accepts.

#if defined(__SSE2__) && !defined(ORVANTIS_PORTABLE)
#define ORVANTIS_SSE2 1
#include <emmintrin.h>
#endif

#if defined(__aarch64__) && defined(__ARM_NEON) && !defined(ORVANTIS_PORTABLE)
#define ORVANTIS_NEON 1
#include <arm_neon.h>
#endif

// Inlined into every caller, or never inlined, whatever the optimiser's cost model says.
#define ORVANTIS_ALWAYS_INLINE __attribute__((always_inline)) inline
#define ORVANTIS_NOINLINE __attribute__((noinline))

// Branch hints: the condition is almost always true, or almost always false.
#define ORVANTIS_LIKELY(condition) __builtin_expect(static_cast<bool>(condition), 1)
#define ORVANTIS_UNLIKELY(condition) __builtin_expect(static_cast<bool>(condition), 0)
