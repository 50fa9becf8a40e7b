#pragma once

// The interpreter's functions that the module calls and that some CPython 3
// other than 3.11 does not export, referenced weakly. The loader resolves every
// strong reference before PyInit_orvantis_core runs, so a single missing
// function would stop the import with "undefined symbol" before the version
// check can refuse that interpreter with its ImportError. A weak reference
// resolves to the interpreter's function where there is one (on 3.11, every
// one below) and to null elsewhere, where the version check returns before
// any of them is called.
//
// CMakeLists.txt passes this header to every source of the module with
// -include: a reference is weak in the module only if it is weak in every
// object file. `bash .ci/symbols` lists what each interpreter lacks.
//
// Each line ends with what references the function: "pybind11" for the pinned
// pybind11's own headers (a module of one class and one function built with
// them references all ten), "module" for this module's sources. After an
// upgrade of pybind11, build such a module and compare its undefined symbols
// (`nm -D -u`) with the pybind11 lines.

// Not in 3.6 (from 3.7 on).
#pragma weak PyInterpreterState_Main  // module
#pragma weak PyThread_tss_create      // pybind11
#pragma weak PyThread_tss_delete      // pybind11
#pragma weak PyThread_tss_get         // pybind11
#pragma weak PyThread_tss_set         // pybind11
// Not in 3.6 and 3.7 (from 3.8 on).
#pragma weak PyInterpreterState_GetDict  // pybind11
// Not in 3.6 to 3.8 (from 3.9 on).
#pragma weak PyCMethod_New           // pybind11
#pragma weak PyFrame_GetBack         // pybind11
#pragma weak PyFrame_GetCode         // pybind11
#pragma weak PyInterpreterState_Get  // pybind11, module
#pragma weak PyThreadState_GetID     // module
// An inline function of the headers of 3.9 and 3.10, exported from 3.11 on.
#pragma weak PyObject_CallOneArg  // module
// No longer exported from 3.13 on.
#pragma weak _PyThreadState_UncheckedGet  // pybind11
