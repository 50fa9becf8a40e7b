# Stops the configuration, naming the platform, where the sources cannot build
# or would read numbers wrongly.
#
# The cell conversion reads 8 bytes of text as one 64-bit word, the first byte
# the lowest (little-endian), multiplies 64-bit words into 128 bits
# (unsigned __int128) and uses GCC's builtins and attributes; it reads numbers
# with strtod_l in a "C" locale and searches lines with memrchr (GNU C library).
include(CheckCXXSourceCompiles)

set(platform "${CMAKE_SYSTEM_NAME} ${CMAKE_SYSTEM_PROCESSOR}, ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}")

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang|AppleClang)$")
  message(FATAL_ERROR "orvantis_core does not build on ${platform}: it needs GCC or Clang "
                      "(GCC builtins and attributes, unsigned __int128).")
endif()
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  message(FATAL_ERROR "orvantis_core does not build on ${platform}: a 64-bit target is needed "
                      "(this one has ${CMAKE_SIZEOF_VOID_P}-byte pointers; unsigned __int128).")
endif()
if(NOT CMAKE_CXX_BYTE_ORDER STREQUAL "LITTLE_ENDIAN")
  message(FATAL_ERROR "orvantis_core does not build on ${platform}: a little-endian target is needed "
                      "(byte order: '${CMAKE_CXX_BYTE_ORDER}'; digits are read 8 bytes to a word).")
endif()

check_cxx_source_compiles([=[
#include <locale.h>
#include <stdlib.h>
#include <string.h>
int main() {
    const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return memrchr("1", '1', 1) == nullptr || strtod_l("1", nullptr, c) != 1;
}]=] ORVANTIS_HAVE_GNU_C_LIBRARY_FUNCTIONS)
if(NOT ORVANTIS_HAVE_GNU_C_LIBRARY_FUNCTIONS)
  message(FATAL_ERROR "orvantis_core does not build on ${platform}: its C library lacks newlocale, strtod_l "
                      "or memrchr (GNU C library functions).")
endif()
