#pragma once

// The busy mark of a frame, set while an operation can run Python code.

#include <cstdint>

// Set while an operation walks a frame across a point where Python code can
// run (a console message, the allocation of a Python object, a signal check,
// a blocking read without the interpreter lock). The mark names the thread
// whose operation set it and holds only while that thread lives: in a child
// made by os.fork from another thread, the operation is gone and the frame
// is usable again, holding what the operation had done. The mark belongs to
// its frame: copying or moving a frame never carries it along.
class BusyMark {
public:
    BusyMark() = default;
    BusyMark(const BusyMark&) noexcept {}
    BusyMark& operator=(const BusyMark&) noexcept { return *this; }

    // Throws std::runtime_error (RuntimeError in Python) when the mark is set.
    void refuse_if_busy() const;

private:
    friend class BusyScope;
    // The interpreter's id of the owning thread's state (ids start at 1); 0
    // when the mark is not set.
    std::uint64_t owner_ = 0;
};

// Marks a frame busy for the scope's lifetime. Any method called on a busy
// frame raises RuntimeError instead of touching it.
class BusyScope {
public:
    explicit BusyScope(BusyMark& mark);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    BusyMark& mark_;
};
