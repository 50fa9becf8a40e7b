# The toolchain of the manylinux2014 wheels (.ci/wheel for x86_64, .ci/aarch64-wheel
# for aarch64): Debian 12's GCC 12 for CMAKE_SYSTEM_PROCESSOR, linked against the GNU
# C library 2.17 that .ci/glibc-stubs lays out in ORVANTIS_GLIBC_2_17 (a folder), with
# the C++ library linked in statically. A build with the system's compiler does not
# use this file.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/manylinux2014.cmake -DCMAKE_SYSTEM_PROCESSOR=x86_64
#         -DORVANTIS_GLIBC_2_17=DIR ...
#
# - The link finds glibc 2.17's stubs (-L) and its Scrt1.o (-B) before the system's
#   libraries, so every symbol the module takes from the C library has a version that
#   2.17 has, or the link fails; src/glibc_2_17.cpp provides, hidden, the few that
#   the C++ library and 2.36's headers ask for beyond that (it says which and why).
# - In glibc 2.17 the thread functions are in libpthread (-pthread), which the module
#   needs only where it calls one (--as-needed).
# - libstdc++ and libgcc's static part are linked in (and hidden by the module's
#   version script); libgcc_s stays a shared library, because glibc's pthread_exit
#   unwinds a thread with the libgcc_s that it loads, and the module's frames must
#   be unwound by that same unwinder. --gc-sections drops the parts of libstdc++ that
#   nothing calls (random_device's, which would need glibc 2.25's getentropy and 2.36's
#   arc4random, comes in only as the neighbour of a string function). The vtables'
#   __cxa_pure_virtual is referenced weakly, which would bind it to whatever C++ library
#   the process has loaded, or to nothing: it is linked in like the rest.
# - No path of the machine that builds ends up in the module (-ffile-prefix-map for
#   the source and build folders), so two builds of one commit in two folders give
#   the same bytes.
set(CMAKE_SYSTEM_NAME Linux)
if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|aarch64)$")
  message(FATAL_ERROR "cmake/manylinux2014.cmake: set CMAKE_SYSTEM_PROCESSOR to x86_64 or aarch64")
endif()
if(NOT IS_DIRECTORY "${ORVANTIS_GLIBC_2_17}")
  message(FATAL_ERROR "cmake/manylinux2014.cmake: set ORVANTIS_GLIBC_2_17 to the folder "
                      "that .ci/glibc-stubs makes (now '${ORVANTIS_GLIBC_2_17}')")
endif()
# The checks that CMake compiles and links (try_compile) see the same settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CMAKE_SYSTEM_PROCESSOR ORVANTIS_GLIBC_2_17)

set(CMAKE_CXX_COMPILER ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu-g++-12)
set(CMAKE_CXX_FLAGS_INIT "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build")
set(glibc_2_17_link "-static-libstdc++ -pthread -B${ORVANTIS_GLIBC_2_17} -L${ORVANTIS_GLIBC_2_17} \
-Wl,--gc-sections,--as-needed,--require-defined=__cxa_pure_virtual")
# The libgcc_s that a program is linked with is this machine's, which needs a newer glibc;
# the one it runs with is the target's own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "${glibc_2_17_link} -Wl,--allow-shlib-undefined")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${glibc_2_17_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${glibc_2_17_link}")
