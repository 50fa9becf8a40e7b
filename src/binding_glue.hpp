#pragma once

// What the bindings need beyond pybind11's public API: the casters of the
// arguments that Python code can take part in (get_mean's sequence, filter_by's
// value), the check of `self`, and the refusal of sub-interpreters. Every use of
// pybind11::detail is here, written against pybind11 3.0.1 (the pinned release).
//
// Why exactly 3.0.1: help() prints the type hints that this release derives
// from the native signatures (collections.abc.Sequence[typing.SupportsFloat],
// typing.SupportsFloat), and the internals used here have no stable contract:
// list_caster's name and object_is_convertible_to_std_vector, the double
// caster's name and its rules (which src/arguments.cpp follows), get_type_info
// and get_object_handle, the PYBIND11_MODULE_PYINIT pre-init hook, and the
// `+= 1` on get_num_interpreters_seen() that the hook must do itself. An upgrade
// checks each of them against the new release, checks that the C-API functions
// its headers call are still in src/c_api_weak.hpp (bash .ci/symbols lists what
// each interpreter lacks), and runs tests/test_module.py, which compares every
// help() line.

#include <vector>

#include <pybind11/stl.h>

#include "arguments.hpp"
#include "kestrane_dataframe.hpp"

namespace py = pybind11;

// The values of get_mean: a vector of doubles whose conversion from Python
// reads exact lists and tuples of exact floats directly.
struct MeanValues : std::vector<double> {};

// filter_by's value, a double that __float__ or __index__ may give.
struct RealArgument {
    double value = 0.0;
    operator double() const { return value; }
};

namespace pybind11::detail {

// The standard sequence conversion's help() text and acceptance, made by
// load_reals, plus a fast path that copies the doubles of an exact list or
// tuple of exact floats. No Python code can run on that path, and its results
// equal the standard ones.
template <>
struct type_caster<MeanValues> : list_caster<MeanValues, double> {
    bool load(handle source, bool convert) {
        return load_exact_floats(source) ||
               (object_is_convertible_to_std_vector(source) && load_reals(source.ptr(), convert, value));
    }

private:
    bool load_exact_floats(handle source) {
        if (!PyList_CheckExact(source.ptr()) && !PyTuple_CheckExact(source.ptr())) {
            return false;
        }
        PyObject** items = PySequence_Fast_ITEMS(source.ptr());
        const Py_ssize_t size = PySequence_Fast_GET_SIZE(source.ptr());
        value.clear();
        value.reserve(static_cast<std::size_t>(size));
        for (Py_ssize_t i = 0; i < size; ++i) {
            if (!PyFloat_CheckExact(items[i])) {
                return false;
            }
            value.push_back(PyFloat_AS_DOUBLE(items[i]));
        }
        return true;
    }
};

// The standard double conversion's help() text and acceptance, made by load_real.
template <>
struct type_caster<RealArgument> {
    PYBIND11_TYPE_CASTER(RealArgument, make_caster<double>::name);
    bool load(handle source, bool convert) { return load_real(source.ptr(), convert, value.value); }
};

}  // namespace pybind11::detail

namespace binding_glue {

// Whether `self` is a frame that __init__ built. For None the binding library
// passes a null pointer; for an instance whose __init__ has not run it passes
// storage that holds no frame yet, which is not registered as an instance.
inline bool is_initialised(const KestraneDataFrame* self) {
    static const py::detail::type_info* const frame_type = py::detail::get_type_info(typeid(KestraneDataFrame));
    return self != nullptr && py::detail::get_object_handle(self, frame_type);
}

// The frame behind `self`, ready for a method: a TypeError for None or for an
// instance whose __init__ has not run yet, a RuntimeError for a busy frame.
inline KestraneDataFrame& ready_frame(KestraneDataFrame* self) {
    if (!is_initialised(self)) {
        throw py::type_error("KestraneDataFrame method called without an initialised KestraneDataFrame as self");
    }
    self->refuse_if_busy();
    return *self;
}

// The type a bound method takes for a parameter of the frame's operation:
// a double through RealArgument's caster, everything else as it is.
template <typename Parameter>
struct Bound {
    using Type = Parameter;
};
template <>
struct Bound<double> {
    using Type = RealArgument;
};

// A member operation bound through ready_frame (the self and busy checks),
// with the same Python signature.
template <typename Result, typename... Args>
auto checked_method(Result (KestraneDataFrame::*operation)(Args...)) {
    return [operation](KestraneDataFrame* self, typename Bound<Args>::Type... args) -> Result {
        return (ready_frame(self).*operation)(args...);
    };
}

// The binding library keeps per-process state that it reaches through the
// main interpreter's thread state; an import into a sub-interpreter would
// block on the interpreter lock forever. Sets ImportError there instead.
inline bool refuse_sub_interpreter() {
    if (PyInterpreterState_Get() == PyInterpreterState_Main()) {
        return false;
    }
    PyErr_SetString(PyExc_ImportError,
                    "orvantis_core does not support sub-interpreters; import it in the main interpreter");
    return true;
}

}  // namespace binding_glue

// PYBIND11_MODULE, with the sub-interpreter check before the binding library
// sets up its state.
#define ORVANTIS_PRE_INIT                         \
    if (binding_glue::refuse_sub_interpreter()) { \
        return nullptr;                           \
    }                                             \
    py::detail::get_num_interpreters_seen() += 1
