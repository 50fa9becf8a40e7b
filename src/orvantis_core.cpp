#include <pybind11/stl.h>

#include "kestrane_dataframe.hpp"

namespace py = pybind11;

void print_message(const py::tuple& parts) { py::print(*parts); }

namespace {

void merhaba_kestrane() { print_message(py::make_tuple("Kestrane'in C++ çekirdeği çalışıyor!")); }

}  // namespace

PYBIND11_MODULE(orvantis_core, m) {
    m.doc() = "Kestrane'in C++ ile yazılmış performans çekirdeği.";

    py::class_<KestraneDataFrame>(m, "KestraneDataFrame")
        .def(py::init<>())
        .def("read_csv", &KestraneDataFrame::read_csv)
        .def("auto_preprocess", &KestraneDataFrame::auto_preprocess)
        .def("get_column", &KestraneDataFrame::get_column)
        .def("describe", &KestraneDataFrame::describe)
        .def("shape", &KestraneDataFrame::shape)
        .def("count_nan", &KestraneDataFrame::count_nan)
        .def("filter_by", &KestraneDataFrame::filter_by);

    m.def("get_mean", &get_mean, "Get the mean of the specified column.");
    m.def("merhaba_kestrane", &merhaba_kestrane);
}
