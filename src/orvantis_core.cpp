// The module orvantis_core: its docstring, the class KestraneDataFrame with its
// methods, and the functions get_mean and merhaba_kestrane, in registration order.

#include "binding_glue.hpp"
#include "mean.hpp"
#include "messages.hpp"

using binding_glue::checked_method;

PYBIND11_MODULE_PYINIT(orvantis_core, ORVANTIS_PRE_INIT)
PYBIND11_MODULE_EXEC(orvantis_core, m) {
    m.doc() = "Kestrane'in C++ ile yazılmış performans çekirdeği.";

    py::class_<KestraneDataFrame>(m, "KestraneDataFrame")
        .def(py::init<>())
        .def("read_csv", checked_method(&KestraneDataFrame::read_csv))
        .def("auto_preprocess", checked_method(&KestraneDataFrame::auto_preprocess))
        .def("get_column", checked_method(&KestraneDataFrame::get_column))
        .def("describe", checked_method(&KestraneDataFrame::describe))
        .def("shape", checked_method(&KestraneDataFrame::shape))
        .def("count_nan", checked_method(&KestraneDataFrame::count_nan))
        .def("filter_by", checked_method(&KestraneDataFrame::filter_by));

    m.def(
        "get_mean", [](const MeanValues& values) { return get_mean(values); }, "Get the mean of the specified column.");
    m.def("merhaba_kestrane", &messages::greeting);
}
