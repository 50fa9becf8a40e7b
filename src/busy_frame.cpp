// The busy mark: refusing calls on a frame while one of its operations runs.

#include <stdexcept>

#include "busy_frame.hpp"

void BusyMark::ensure_unset() const {
    if (set_) {
        throw std::runtime_error(
            "KestraneDataFrame is busy: one of its operations is still running, and the frame cannot be used "
            "from code that runs inside it (a stream, a garbage-collection callback or another thread)");
    }
}

BusyScope::BusyScope(BusyMark& mark) : mark_(mark) {
    mark_.ensure_unset();
    mark_.set_ = true;
}

BusyScope::~BusyScope() { mark_.set_ = false; }
