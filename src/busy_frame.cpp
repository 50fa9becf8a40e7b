// The busy mark: refusing calls on a frame while one of its operations runs.

#include "busy_frame.hpp"

#include <stdexcept>

#include <pybind11/pybind11.h>

namespace {

// Whether a thread state with this id is among the interpreter's. After
// os.fork the child keeps only the state of the thread that forked.
bool thread_lives(std::uint64_t id) {
    for (PyThreadState* state = PyInterpreterState_ThreadHead(PyInterpreterState_Get()); state != nullptr;
         state = PyThreadState_Next(state)) {
        if (PyThreadState_GetID(state) == id) {
            return true;
        }
    }
    return false;
}

}  // namespace

void BusyMark::refuse_if_busy() const {
    if (owner_ != 0 && thread_lives(owner_)) {
        throw std::runtime_error(
            "KestraneDataFrame is busy: one of its operations is still running, and the frame cannot be used "
            "from code that runs inside it (a stream, a garbage-collection callback or another thread)");
    }
}

BusyScope::BusyScope(BusyMark& mark) : mark_(mark) {
    mark_.refuse_if_busy();
    mark_.owner_ = PyThreadState_GetID(PyThreadState_Get());
}

BusyScope::~BusyScope() { mark_.owner_ = 0; }
