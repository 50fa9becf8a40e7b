// The module orvantis_core: its docstring, the class KestraneDataFrame with its
// methods, and the functions get_mean and merhaba_kestrane, in registration order.

#include "binding_glue.hpp"
#include "messages.hpp"

using binding_glue::method;

PYBIND11_MODULE_PYINIT(orvantis_core, ORVANTIS_PRE_INIT)
PYBIND11_MODULE_EXEC(orvantis_core, m) {
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

    m.def(
        "get_mean", [](const MeanValues& values) { return get_mean(values); }, "Get the mean of the specified column.");
    m.def("merhaba_kestrane", &messages::greeting);
}
