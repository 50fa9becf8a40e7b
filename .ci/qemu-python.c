/* The arm64 interpreter of a sysroot as a host program: runs
 *   qemu-aarch64 -L SYSROOT -0 ARGV0 SYSROOT/usr/bin/python3.11 ARGS...
 * with the interpreter's argv[0] set to the path this program was started by, so
 * that sys.executable (and a virtualenv's interpreter, a link to this program) leads
 * back here and child interpreters run too. The dynamic loader's variables
 * (LD_PRELOAD, LD_LIBRARY_PATH) name arm64 libraries: they go to the interpreter
 * only (qemu's -E, which splits its argument at commas), not to qemu, a host
 * program. This program is linked statically, so no host loader reads them either.
 *   cc -static -DSYSROOT='"/path/to/sysroot"' -o python3.11 qemu-python.c */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#ifndef SYSROOT
#error "define SYSROOT as the sysroot's path, a string"
#endif

int main(int argc, char** argv) {
    static const char* const loader_variables[] = {"LD_PRELOAD", "LD_LIBRARY_PATH"};
    enum { variables = sizeof loader_variables / sizeof loader_variables[0] };
    const char** args = calloc((size_t)argc + 6 + 2 * variables, sizeof *args);
    if (args == NULL) {
        perror("qemu-python");
        return 127;
    }
    int n = 0;
    args[n++] = "qemu-aarch64";
    args[n++] = "-L";
    args[n++] = SYSROOT;
    args[n++] = "-0";
    args[n++] = argc > 0 ? argv[0] : "python3.11";
    for (int i = 0; i < variables; ++i) {
        const char* value = getenv(loader_variables[i]);
        char* setting;
        if (value == NULL) {
            continue;
        }
        if (strchr(value, ',') != NULL) {
            fprintf(stderr, "qemu-python: %s holds a comma, which qemu's -E cannot pass\n", loader_variables[i]);
            return 127;
        }
        if (asprintf(&setting, "%s=%s", loader_variables[i], value) < 0) {
            perror("qemu-python");
            return 127;
        }
        args[n++] = "-E";
        args[n++] = setting;
        unsetenv(loader_variables[i]);
    }
    args[n++] = SYSROOT "/usr/bin/python3.11";
    for (int i = 1; i < argc; ++i) {
        args[n++] = argv[i];
    }
    execvp(args[0], (char* const*)args);
    perror("qemu-aarch64");
    return 127;
}
