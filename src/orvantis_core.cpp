#include <utility>

#include <pybind11/stl.h>

#include "kestrane_dataframe.hpp"

namespace py = pybind11;

void print_message(const py::tuple& parts) { py::print(*parts); }

namespace {

void merhaba_kestrane() { print_message(py::make_tuple("Kestrane'in C++ çekirdeği çalışıyor!")); }

// Whether `self` is a frame that __init__ built. For None the binding library
// passes a null pointer; for an instance whose __init__ has not run it passes
// storage that holds no frame yet, which is not registered as an instance.
bool is_initialised(const KestraneDataFrame* self) {
    static const py::detail::type_info* const frame_type = py::detail::get_type_info(typeid(KestraneDataFrame));
    return self != nullptr && py::detail::get_object_handle(self, frame_type);
}

// The frame behind `self`, ready for a method: a TypeError for None or for an
// instance whose __init__ has not run yet, a RuntimeError for a busy frame.
KestraneDataFrame& ready_frame(KestraneDataFrame* self) {
    if (!is_initialised(self)) {
        throw py::type_error("KestraneDataFrame method called without an initialised KestraneDataFrame as self");
    }
    self->ensure_idle();
    return *self;
}

// Binds a member operation through ready_frame, with the same Python signature.
template <typename Result, typename... Args>
auto method(Result (KestraneDataFrame::*operation)(Args...)) {
    return [operation](KestraneDataFrame* self, Args... args) -> Result {
        return (ready_frame(self).*operation)(std::forward<Args>(args)...);
    };
}

}  // namespace

PYBIND11_MODULE(orvantis_core, m) {
    m.doc() = "Kestrane'in C++ ile yazılmış performans çekirdeği.";

    py::class_<KestraneDataFrame>(m, "KestraneDataFrame")
        .def(py::init<>())
        .def("read_csv", method(&KestraneDataFrame::read_csv))
        .def("auto_preprocess", method(&KestraneDataFrame::auto_preprocess))
        .def("get_column", method(&KestraneDataFrame::get_column))
        .def("describe", method(&KestraneDataFrame::describe))
        .def("shape", method(&KestraneDataFrame::shape))
        .def("count_nan", method(&KestraneDataFrame::count_nan))
        .def("filter_by", method(&KestraneDataFrame::filter_by));

    m.def("get_mean", &get_mean, "Get the mean of the specified column.");
    m.def("merhaba_kestrane", &merhaba_kestrane);
}
