// The least the calling thread must do to hand over textgrid2data's result:
// build its tuples, floats and lists from columns already read, with labels
// already made. No file, no parse, no label decoded: what is left is the cost
// of the objects alone, which on an interpreter with a GIL only one thread at
// a time can pay. bench/object_floor.py times it against textgrid2data.
//
//   build_data(tmin, tmax, tmins, tmaxs, labels, tier_names, is_intervals)
//
// takes textgrid2vectors' columns and returns what textgrid2data returns for
// the same file, built with the calls and the sharing the module uses (equal
// consecutive times share a float, every label str is shared, tuples left
// untracked, the collector paused).

#include <Python.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#include "../src/pyref.hpp"

namespace {

using velmar::PyRef;

class Buffer {
public:
    bool open(PyObject* object) {
        opened_ = PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) == 0;
        return opened_;
    }
    ~Buffer() {
        if (opened_) PyBuffer_Release(&view_);
    }
    Py_ssize_t count(Py_ssize_t item_size) const { return view_.len / item_size; }
    const void* data() const { return view_.buf; }

private:
    Py_buffer view_{};
    bool opened_ = false;
};

class Floats {
public:
    PyObject* next(double value) {
        const auto bits = std::bit_cast<std::uint64_t>(value);
        if (!last_ || bits != last_bits_) {
            last_ = PyRef::steal(PyFloat_FromDouble(value));
            last_bits_ = bits;
        }
        return Py_XNewRef(last_.get());
    }

private:
    std::uint64_t last_bits_ = 0;
    PyRef last_;
};

// Rows [first, end) as a list of (tmin, tmax, label) tuples.
PyRef rows(Floats& floats, const double* tmins, const double* tmaxs, PyObject* labels,
           Py_ssize_t first, Py_ssize_t end) {
    PyRef list = PyRef::steal(PyList_New(end - first));
    if (!list) return list;
    for (Py_ssize_t row = first; row < end; ++row) {
        PyObject* tuple = PyTuple_New(3);
        if (!tuple) return PyRef();
        PyList_SET_ITEM(list.get(), row - first, tuple);
        PyObject* start = floats.next(tmins[row]);
        PyObject* stop = start ? floats.next(tmaxs[row]) : nullptr;
        if (!stop) {
            Py_XDECREF(start);
            return PyRef();
        }
        PyTuple_SET_ITEM(tuple, 0, start);
        PyTuple_SET_ITEM(tuple, 1, stop);
        PyTuple_SET_ITEM(tuple, 2, Py_NewRef(PyList_GET_ITEM(labels, row)));
        PyObject_GC_UnTrack(tuple);
    }
    return list;
}

PyRef tier(PyObject* name, PyObject* is_interval, PyRef items) {
    PyRef tuple = PyRef::steal(PyTuple_New(3));
    if (!tuple || !items) return PyRef();
    PyTuple_SET_ITEM(tuple.get(), 0, Py_NewRef(name));
    PyTuple_SET_ITEM(tuple.get(), 1, PyBool_FromLong(PyObject_IsTrue(is_interval)));
    PyTuple_SET_ITEM(tuple.get(), 2, items.release());
    return tuple;
}

PyRef build_tiers(const double* tmins, const double* tmaxs, PyObject* labels, PyObject* tier_names,
                  const bool* is_intervals, Py_ssize_t count) {
    PyRef tiers = PyRef::steal(PyList_New(0));
    Floats floats;
    Py_ssize_t first = 0;
    while (tiers && first < count) {
        PyObject* name = PyList_GET_ITEM(tier_names, first);
        Py_ssize_t end = first + 1;
        while (end < count && PyList_GET_ITEM(tier_names, end) == name) ++end;
        PyRef one = tier(name, is_intervals[first] ? Py_True : Py_False,
                         rows(floats, tmins, tmaxs, labels, first, end));
        if (!one || PyList_Append(tiers.get(), one.get()) != 0) return PyRef();
        first = end;
    }
    return tiers;
}

PyObject* build_data(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 7) {
        PyErr_SetString(PyExc_TypeError, "build_data takes 7 arguments");
        return nullptr;
    }
    Buffer tmins, tmaxs, is_intervals;
    if (!tmins.open(args[2]) || !tmaxs.open(args[3]) || !is_intervals.open(args[6])) return nullptr;
    PyObject* labels = args[4];
    PyObject* tier_names = args[5];
    const Py_ssize_t count = tmins.count(sizeof(double));
    if (!PyList_Check(labels) || !PyList_Check(tier_names) || PyList_GET_SIZE(labels) != count ||
        PyList_GET_SIZE(tier_names) != count || tmaxs.count(sizeof(double)) != count ||
        is_intervals.count(sizeof(bool)) != count) {
        PyErr_SetString(PyExc_ValueError, "build_data needs textgrid2vectors' columns");
        return nullptr;
    }
    const int collector_was_on = PyGC_Disable();
    PyRef tiers = build_tiers(static_cast<const double*>(tmins.data()),
                              static_cast<const double*>(tmaxs.data()), labels, tier_names,
                              static_cast<const bool*>(is_intervals.data()), count);
    if (collector_was_on) PyGC_Enable();
    if (!tiers) return nullptr;
    PyRef tmin = PyRef::steal(PyFloat_FromDouble(PyFloat_AsDouble(args[0])));
    PyRef tmax = PyRef::steal(PyFloat_FromDouble(PyFloat_AsDouble(args[1])));
    PyRef document = PyRef::steal(PyTuple_New(3));
    if (!tmin || !tmax || !document || PyErr_Occurred()) return nullptr;
    PyTuple_SET_ITEM(document.get(), 0, tmin.release());
    PyTuple_SET_ITEM(document.get(), 1, tmax.release());
    PyTuple_SET_ITEM(document.get(), 2, tiers.release());
    return document.release();
}

PyMethodDef methods[] = {
    {"build_data", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(build_data)),
     METH_FASTCALL, "textgrid2data's result from textgrid2vectors' columns, objects only."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {PyModuleDef_HEAD_INIT,
                      "_object_floor",
                      nullptr,
                      -1,
                      methods,
                      nullptr,
                      nullptr,
                      nullptr,
                      nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__object_floor() { return PyModule_Create(&module); }
