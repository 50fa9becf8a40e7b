#pragma once

// Every call from the module into the interpreter, and every reference the
// module holds to a Python object.
//
// Python code can run at many points of an operation: a call into Python, the
// allocation of an object that the garbage collector tracks (a collection runs
// gc callbacks and __del__), the release of what may be the last reference to
// an object the module did not make (its __del__), a signal check, and any
// C-API call that may raise (a new exception object is tracked too). That code
// may give up the interpreter lock; once the interpreter is finalising, CPython
// 3.11 ends a thread that asks for the lock again with pthread_exit, whose
// forced unwind would run this thread's destructors without the lock and
// abort at the first noexcept frame. So the module follows one rule:
//
//   Every C-API call that can run Python code is made inside at_python_point,
//   as its innermost frame, and every reference the module holds is a PyRef,
//   whose release is made there too.
//
// A thread ended inside at_python_point stops there and sleeps until the
// process ends, as CPython 3.14 does itself: nothing of the module is unwound
// without the lock. C-API calls that cannot run Python code (reading a float,
// a list's size, the macros that set a new list's slots) need no guard.

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>

// Never returns: the thread sleeps until the process ends.
[[noreturn]] void wait_for_process_exit();

// Runs `call`, one C-API call, which cannot throw a C++ exception. Only the
// forced unwind of a thread that the interpreter ends inside it can arrive
// here; under libstdc++ and libc++abi alike it is caught by catch (...), and
// the thread waits for the process to end instead of unwinding further.
template <typename Call>
auto at_python_point(const Call& call) -> decltype(call()) {
    try {
        return call();
    } catch (...) {
        wait_for_process_exit();
    }
}

// Throws the pending Python error as pybind11::error_already_set, which the
// binding library hands back to the caller. The error is normalised first, at
// a Python point: making its exception object can start a collection.
[[noreturn]] void throw_python_error();

// An owned (strong) reference to a Python object, or none. Its release is a
// Python point: it may be the last reference, and run __del__.
class PyRef {
public:
    PyRef() = default;
    // Takes over `owned`, a new reference or null.
    explicit PyRef(PyObject* owned) noexcept : object_(owned) {}
    PyRef(PyRef&& other) noexcept : object_(other.release()) {}
    PyRef& operator=(PyRef&& other) noexcept {
        // The old object is released after the new one is in place, as a
        // Python assignment does.
        PyRef old(std::exchange(object_, other.release()));
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() {
        if (object_ != nullptr) {
            at_python_point([this] { Py_DECREF(object_); });
        }
    }

    // A new reference to `borrowed`, which must not be null.
    static PyRef borrowed(PyObject* borrowed) {
        Py_INCREF(borrowed);
        return PyRef(borrowed);
    }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // Hands the reference over to the caller.
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }

private:
    PyObject* object_ = nullptr;
};

// The new reference that `call` (a C-API call, made at a Python point)
// returns; null raises its Python error (throw_python_error).
template <typename Call>
PyRef new_reference(const Call& call) {
    PyRef result(at_python_point(call));
    if (!result) {
        throw_python_error();
    }
    return result;
}

// Makes `call`, a C-API call that returns -1 on failure, at a Python point;
// failure raises its Python error.
template <typename Call>
void checked_call(const Call& call) {
    if (at_python_point(call) == -1) {
        throw_python_error();
    }
}

// The reference handed to the binding library as the result of an operation,
// typed as help() shows it; nothing runs between this and the return to Python.
template <typename Object = pybind11::object>
Object to_result(PyRef reference) {
    return pybind11::reinterpret_steal<Object>(reference.release());
}

// Runs pending signal handlers; a KeyboardInterrupt, or any exception a
// handler raises, is thrown as pybind11::error_already_set.
void check_signals();

// Runs `system_call` (an open or a read that may wait for another thread of
// the process) without the interpreter lock, then takes the lock back, at a
// Python point. The call must not throw, and must not touch Python objects.
void without_interpreter_lock(const std::function<void()>& system_call);

// A new list of `size` items, the item at i made by make_item(i) as a new
// reference (null with a Python error set on failure). The list stays out of
// the garbage collector's sight until every slot is set, so neither a gc
// callback nor a signal handler (run every `items_per_signal_check` items) can
// reach an unfilled slot: no other object refers to it meanwhile.
template <typename MakeItem>
PyRef filled_list(std::size_t size, std::size_t items_per_signal_check, const MakeItem& make_item) {
    PyRef list = new_reference([size] { return PyList_New(static_cast<Py_ssize_t>(size)); });
    PyObject_GC_UnTrack(list.get());
    for (std::size_t i = 0; i < size; ++i) {
        if (i % items_per_signal_check == items_per_signal_check - 1) {
            check_signals();
        }
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), make_item(i).release());
    }
    PyObject_GC_Track(list.get());
    return list;
}

// A new list holding one float per value, in order. Checks for signals every
// 2^20 values, so that Ctrl-C stops a long one.
PyRef to_float_list(const std::vector<double>& values);

// A new dict, and its item key: value.
PyRef new_dict();
void set_item(const PyRef& dict, const PyRef& key, const PyRef& value);

// A str of the bytes by strict UTF-8 decoding (UnicodeDecodeError otherwise).
PyRef utf8_text(std::string_view bytes);
