#pragma once

// Which vector instructions the code may use: SSE2 where the target has it,
// unless ORVANTIS_PORTABLE (the CMake option of that name) asks for the
// scalar code that every target runs.

#if defined(__SSE2__) && !defined(ORVANTIS_PORTABLE)
#define ORVANTIS_SSE2 1
#include <emmintrin.h>
#endif
