// Faults on demand for the Python tests, loaded first with LD_PRELOAD into a child
// interpreter and armed through ctypes: one C++ allocation, or one read(), fails
// after a given number of calls that succeed.

#include <cerrno>
#include <cstdlib>
#include <new>

#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Calls left before the one that fails; -1: none fails.
long allocations_before_failure = -1;
long reads_before_failure = -1;

// Whether this call is the one to fail; counts the call down otherwise.
bool fails_now(long& calls_before_failure) {
    if (calls_before_failure == 0) {
        calls_before_failure = -1;
        return true;
    }
    if (calls_before_failure > 0) {
        --calls_before_failure;
    }
    return false;
}

void* allocate(std::size_t size) {
    if (fails_now(allocations_before_failure)) {
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

}  // namespace

extern "C" {

void fail_allocation_after(long allocations) { allocations_before_failure = allocations; }
long allocations_left() { return allocations_before_failure; }
void fail_read_after(long reads) { reads_before_failure = reads; }

ssize_t read(int fd, void* buffer, size_t size) {
    if (fails_now(reads_before_failure)) {
        errno = EIO;
        return -1;
    }
    return syscall(SYS_read, fd, buffer, size);
}
}

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
