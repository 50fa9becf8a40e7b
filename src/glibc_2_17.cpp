// Linked into the module and the C++ test programs only when they are built against
// the GNU C library 2.17 (cmake/manylinux2014.cmake, for the manylinux2014 wheels),
// where the headers are a newer glibc's and libstdc++ is linked in statically: what
// those two ask for that glibc 2.17 lacks, defined here and hidden, so that the module
// neither exports it nor binds to the copy of whatever glibc loads it.
//
// The rest that they ask for is elsewhere: fstat and its family, which newer headers
// call as functions, come from glibc 2.17's own libc_nonshared.a (as calls of
// __fxstat); getentropy and arc4random, which libstdc++'s random_device calls, are
// dropped with that unused code by the link's --gc-sections.

#include <sys/single_threaded.h>

// Since glibc 2.32, non-zero while the process has a single thread, so that libstdc++
// counts references (its strings, exceptions and locales) without atomic instructions.
// glibc 2.17 has no such variable, and libstdc++ built for it asks whether the thread
// library is in use, which it always is in CPython: so it is 0 here, and every count
// takes its atomic path, as it does with that older glibc.
__attribute__((visibility("hidden"))) char __libc_single_threaded = 0;
