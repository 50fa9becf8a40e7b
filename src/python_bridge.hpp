#pragma once

// The calls from the frame's operations into the interpreter besides console
// lines: each can run Python code (signal handlers, garbage collection) or
// let other threads run.

#include <cxxabi.h>

#include <cstddef>
#include <vector>

#include <pybind11/pybind11.h>

#include "target_features.hpp"

// Runs pending signal handlers; a KeyboardInterrupt, or any exception a
// handler raises, is thrown as py::error_already_set.
void check_signals();

// Never returns: the thread sleeps until the process ends.
[[noreturn]] void wait_for_process_exit();

// Runs `call`, which may give up the interpreter lock and ask for it again
// (a stream's write, a blocking read). Once the interpreter is finalising,
// CPython ends a thread that asks for the lock with pthread_exit, whose forced
// unwind would run this thread's destructors without the lock (and abort at a
// noexcept frame); the thread waits for the process to end instead. So
// `call` is the innermost step, one C-API call: the unwind must meet no frame
// of this module with something to destroy before it reaches this one. The
// forced unwind carries no exception object, so its handler binds a null
// reference, which the undefined-behaviour sanitizer must not report.
template <typename Call>
ORVANTIS_NO_SANITIZE_UNDEFINED decltype(auto) unless_thread_ended(const Call& call) {
    try {
        return call();
    } catch (abi::__forced_unwind&) {
        wait_for_process_exit();
    }
}

// Runs `system_call` without the interpreter lock, then takes the lock back.
// The call must not throw, and must not touch Python objects.
template <typename SystemCall>
void run_without_interpreter_lock(const SystemCall& system_call) {
    PyThreadState* const state = PyEval_SaveThread();
    system_call();
    unless_thread_ended([state] { PyEval_RestoreThread(state); });
}

// A new list of `size` items, the item at i made by make_item(i) as a new
// reference (null with a Python error set on failure). The list stays out of
// the garbage collector's sight until every slot is set, so neither a gc
// callback nor a signal handler (run every `items_per_signal_check` items) can
// reach an unfilled slot: no other object refers to it meanwhile.
template <typename MakeItem>
pybind11::list filled_list(std::size_t size, std::size_t items_per_signal_check, const MakeItem& make_item) {
    PyObject* const list = PyList_New(static_cast<Py_ssize_t>(size));
    if (list == nullptr) {
        throw pybind11::error_already_set();
    }
    PyObject_GC_UnTrack(list);
    auto owned = pybind11::reinterpret_steal<pybind11::list>(list);
    for (std::size_t i = 0; i < size; ++i) {
        if (i % items_per_signal_check == items_per_signal_check - 1) {
            check_signals();
        }
        PyObject* const item = make_item(i);
        if (item == nullptr) {
            throw pybind11::error_already_set();
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
    }
    PyObject_GC_Track(list);
    return owned;
}

// A new list holding one float per value, in order. Checks for signals every
// 2^20 values, so that Ctrl-C stops a long one.
pybind11::list to_float_list(const std::vector<double>& values);
