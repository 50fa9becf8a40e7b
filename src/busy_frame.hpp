#pragma once

// The busy mark of a frame, set while an operation can run Python code.

// Set while an operation walks a frame across a point where Python code can
// run (a console message, the allocation of a Python object, a signal check,
// a blocking read without the interpreter lock). The mark belongs to its
// frame: copying or moving a frame never carries it along.
class BusyMark {
public:
    BusyMark() = default;
    BusyMark(const BusyMark&) noexcept {}
    BusyMark& operator=(const BusyMark&) noexcept { return *this; }

    // Throws std::runtime_error (RuntimeError in Python) when the mark is set.
    void ensure_unset() const;

private:
    friend class BusyScope;
    bool set_ = false;
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
