#include "arg_binding.hpp"

#include <deque>
#include <map>
#include <mutex>
#include <new>

namespace zandrel::python {
namespace {

// A Python reference released at scope exit.
struct Ref {
    PyObject* object;
    explicit Ref(PyObject* o) : object(o) {}
    Ref(const Ref&) = delete;
    ~Ref() { Py_XDECREF(object); }
};

const char* type_name(PyObject* value) { return Py_TYPE(value)->tp_name; }

[[nodiscard]] bool type_error(const EntryPoint& entry, const Param& param, const char* expected,
                              PyObject* value) {
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %s", entry.name, param.name,
                 expected, type_name(value));
    return false;
}

bool bytes_of(PyObject* encoded, std::string& out) {
    if (!encoded) return false;
    Ref owner(encoded);
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(encoded, &data, &size) < 0) return false;
    out.assign(data, static_cast<std::size_t>(size));
    return true;
}

// Caller text keeps lone surrogates (as their three-byte forms) so that the
// core's XML character check can name them instead of a codec error.
bool convert_text(PyObject* value, std::string& out) {
    return bytes_of(PyUnicode_AsEncodedString(value, "utf-8", "surrogatepass"), out);
}

bool convert_path(PyObject* value, std::string& out) {
    return bytes_of(PyUnicode_EncodeFSDefault(value), out);
}

bool convert_unsigned(PyObject* value, std::uint64_t& out) {
    unsigned long long converted = PyLong_AsUnsignedLongLong(value);
    if (converted == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = converted;
    return true;
}

template <class Item, class Convert>
bool convert_sequence(const EntryPoint& entry, const Param& param, PyObject* value,
                      const char* item_type, PyTypeObject* item_check, Convert convert,
                      std::vector<Item>& out) {
    if (PyUnicode_Check(value) || !PySequence_Check(value))
        return type_error(entry, param, item_check == &PyUnicode_Type ? "a sequence of str"
                                                                      : "a sequence of int",
                          value);
    Ref items(PySequence_Fast(value, "expected a sequence"));
    if (!items.object) return false;
    Py_ssize_t count = PySequence_Fast_GET_SIZE(items.object);
    out.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.object, i);
        if (!PyObject_TypeCheck(item, item_check)) {
            PyErr_Format(PyExc_TypeError, "%s() argument '%s' must contain only %s, not %s",
                         entry.name, param.name, item_type, type_name(item));
            return false;
        }
        Item converted{};
        if (!convert(item, converted)) return false;
        out.push_back(std::move(converted));
    }
    return true;
}

bool convert_argument(const EntryPoint& entry, const Param& param, PyObject* value, ArgValue& out) {
    const bool is_none = value == Py_None;
    switch (param.kind) {
        case ParamKind::Path:
        case ParamKind::Text: {
            if (!PyUnicode_Check(value)) return type_error(entry, param, "str", value);
            std::string text;
            if (!(param.kind == ParamKind::Path ? convert_path(value, text) : convert_text(value, text)))
                return false;
            out = std::move(text);
            return true;
        }
        case ParamKind::OptionalText: {
            if (is_none) {
                out = std::optional<std::string>{};
                return true;
            }
            if (!PyUnicode_Check(value)) return type_error(entry, param, "str or None", value);
            std::string text;
            if (!convert_text(value, text)) return false;
            out = std::optional<std::string>{std::move(text)};
            return true;
        }
        case ParamKind::Unsigned:
        case ParamKind::OptionalUnsigned: {
            const bool optional = param.kind == ParamKind::OptionalUnsigned;
            if (optional && is_none) {
                out = std::optional<std::uint64_t>{};
                return true;
            }
            if (!PyLong_Check(value)) return type_error(entry, param, optional ? "int or None" : "int", value);
            std::uint64_t number = 0;
            if (!convert_unsigned(value, number)) return false;
            if (optional)
                out = std::optional<std::uint64_t>{number};
            else
                out = number;
            return true;
        }
        case ParamKind::Signed: {
            if (!PyLong_Check(value)) return type_error(entry, param, "int", value);
            long long number = PyLong_AsLongLong(value);
            if (number == -1 && PyErr_Occurred()) return false;
            out = static_cast<std::int64_t>(number);
            return true;
        }
        case ParamKind::TextList:
        case ParamKind::OptionalTextList: {
            const bool optional = param.kind == ParamKind::OptionalTextList;
            if (optional && is_none) {
                out = std::optional<std::vector<std::string>>{};
                return true;
            }
            std::vector<std::string> texts;
            if (!convert_sequence(entry, param, value, "str", &PyUnicode_Type, convert_text, texts))
                return false;
            if (optional)
                out = std::optional<std::vector<std::string>>{std::move(texts)};
            else
                out = std::move(texts);
            return true;
        }
        case ParamKind::UnsignedList: {
            std::vector<std::uint64_t> numbers;
            if (!convert_sequence(entry, param, value, "int", &PyLong_Type, convert_unsigned, numbers))
                return false;
            out = std::move(numbers);
            return true;
        }
    }
    PyErr_SetString(PyExc_SystemError, "unknown parameter kind");
    return false;
}

// Places positional and keyword arguments in parameter order; the slots hold
// borrowed references.
bool bind_arguments(const EntryPoint& entry, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::vector<PyObject*>& slots) {
    const std::size_t count = entry.params.size();
    slots.assign(count, nullptr);
    if (static_cast<std::size_t>(nargs) > count) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zu positional argument%s but %zd %s given",
                     entry.name, count, count == 1 ? "" : "s", nargs, nargs == 1 ? "was" : "were");
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];

    Py_ssize_t keyword_count = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < keyword_count; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        std::size_t index = count;
        for (std::size_t p = 0; p < count; ++p)
            if (PyUnicode_CompareWithASCIIString(keyword, entry.params[p].name) == 0) index = p;
        if (index == count) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", entry.name,
                         keyword);
            return false;
        }
        if (slots[index]) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", entry.name,
                         entry.params[index].name);
            return false;
        }
        slots[index] = args[nargs + k];
    }
    for (std::size_t p = 0; p < count; ++p) {
        if (slots[p]) continue;
        if (entry.params[p].defaults_to_none) {
            slots[p] = Py_None;
            continue;
        }
        PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)", entry.name,
                     entry.params[p].name, p + 1);
        return false;
    }
    return true;
}

// The call's result as JSON text; a value tree is printed here, where
// nlohmann's writer may throw for text that is not valid UTF-8.
Result<JsonText> call_core(const EntryPoint& entry, const Arguments& arguments) {
    if (const auto* text_call = std::get_if<TextCall>(&entry.call)) return (*text_call)(arguments);
    Result<Json> result = std::get<CoreCall>(entry.call)(arguments);
    if (!result) return result.error();
    return JsonText{to_pretty_json(result.value()), std::nullopt};
}

PyObject* run_core_call(const EntryPoint& entry, Arguments arguments) {
    try {
        Result<JsonText> result = call_core(entry, arguments);
        if (!result) {
            PyErr_SetString(PyExc_RuntimeError, result.error().display().c_str());
            return nullptr;
        }
        if (result->error) {
            PyErr_SetString(PyExc_RuntimeError, result->error->c_str());
            return nullptr;
        }
        const std::string& text = result->text;
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& error) {
        // JSON reader and writer messages, and any other fault of the layer
        PyErr_SetString(PyExc_RuntimeError, error.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unexpected internal error");
    }
    return nullptr;
}

PyObject* call_entry_point(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    auto* entry = static_cast<const EntryPoint*>(PyCapsule_GetPointer(self, nullptr));
    if (!entry) return nullptr;
    try {
        std::vector<PyObject*> slots;
        if (!bind_arguments(*entry, args, nargs, kwnames, slots)) return nullptr;
        std::vector<ArgValue> values(slots.size());
        for (std::size_t i = 0; i < slots.size(); ++i)
            if (!convert_argument(*entry, entry->params[i], slots[i], values[i])) return nullptr;
        return run_core_call(*entry, Arguments(std::move(values)));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unexpected internal error");
        return nullptr;
    }
}

// "name($module, a, b=None)\n--\n\n": Python reads the text signature from
// this and the function has no other documentation.
std::string signature_doc(const EntryPoint& entry) {
    std::string doc = std::string(entry.name) + "($module";
    for (const Param& param : entry.params) {
        doc += ", ";
        doc += param.name;
        if (param.defaults_to_none) doc += "=None";
    }
    return doc + ")\n--\n\n";
}

struct Registration {
    std::string doc;
    PyMethodDef def;
};

// Method definitions must outlive every module object (sub-interpreters
// included), so they are made once per entry point and kept for the process.
const PyMethodDef& method_def(const EntryPoint& entry) {
    static std::mutex lock;
    static std::map<const EntryPoint*, Registration> registrations;
    std::lock_guard guard(lock);
    auto [it, inserted] = registrations.try_emplace(&entry);
    if (inserted) {
        it->second.doc = signature_doc(entry);
        it->second.def = PyMethodDef{entry.name, reinterpret_cast<PyCFunction>(
                                                     reinterpret_cast<void (*)(void)>(call_entry_point)),
                                     METH_FASTCALL | METH_KEYWORDS, it->second.doc.c_str()};
    }
    return it->second.def;
}

}  // namespace

int add_entry_points(PyObject* module, std::span<const EntryPoint> block) {
    Ref module_name(PyModule_GetNameObject(module));
    if (!module_name.object) return -1;
    for (const EntryPoint& entry : block) {
        Ref capsule(PyCapsule_New(const_cast<EntryPoint*>(&entry), nullptr, nullptr));
        if (!capsule.object) return -1;
        Ref function(PyCFunction_NewEx(const_cast<PyMethodDef*>(&method_def(entry)), capsule.object,
                                       module_name.object));
        if (!function.object) return -1;
        if (PyModule_AddObjectRef(module, entry.name, function.object) < 0) return -1;
    }
    return 0;
}

}  // namespace zandrel::python
