// The zandrel_native extension module: multi-phase initialisation whose
// execution step adds the functions block by block.
#include "entry_points.hpp"

namespace zandrel::python {
namespace {

int exec_module(PyObject* module) {
    for (auto block : {native_core_entry_points()})
        if (add_entry_points(module, block) < 0) return -1;
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_multiple_interpreters
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
#ifdef Py_mod_gil
    // no state is shared between calls
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "zandrel_native",
    "",  // empty docstring
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace zandrel::python

PyMODINIT_FUNC PyInit_zandrel_native(void) {
    return PyModuleDef_Init(&zandrel::python::module_def);
}
