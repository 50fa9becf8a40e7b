"""A cap on the address space of the calling process, for the tests that need MemoryError."""

import resource


def limit_address_space(extra_bytes):
    """Caps the process's address space at its present size plus `extra_bytes`."""
    with open("/proc/self/status") as status:
        size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
    resource.setrlimit(resource.RLIMIT_AS, (size + extra_bytes, size + extra_bytes))
