// The least the calling thread must do to hand over textgrid2data's or
// textgrids2data's result: build its tuples, floats and lists from columns
// already read, and a str for each distinct label, once. No file, no parse, no
// label looked up: what is left is the cost of the objects alone, which on an
// interpreter with a GIL only one thread at a time can pay. peers.py and
// batch.py time it.
//
//   build(shapes, tmins, tmaxs, distinct, label_numbers)
//
// takes each document's shape, (tmin, tmax, [(name, is_interval, count), ...]),
// textgrids2vectors' time columns, the UTF-8 bytes of each distinct label and
// each row's label number (int64), and returns the list textgrids2data returns
// for the same files, built with the calls and the sharing the module uses
// (equal consecutive times share a float, every distinct label is one str,
// tuples left untracked, the collector paused).

#include <Python.h>

#include <bit>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "../src/failure.hpp"
#include "../src/pyref.hpp"
#include "../src/results.hpp"

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

// Each distinct label's str, made from its bytes at its first row, as the
// module makes it.
class Labels {
public:
    Labels(PyObject* distinct, const std::int64_t* numbers)
        : distinct_(distinct), numbers_(numbers), made_(PyList_GET_SIZE(distinct)) {}
    PyObject* of_row(Py_ssize_t row) {
        const std::int64_t number = numbers_[row];
        if (number < 0 || number >= static_cast<std::int64_t>(made_.size())) {
            PyErr_SetString(PyExc_ValueError, "label number out of range");
            return nullptr;
        }
        PyRef& str = made_[static_cast<std::size_t>(number)];
        if (!str && !(str = made(PyList_GET_ITEM(distinct_, number)))) return nullptr;
        return Py_NewRef(str.get());
    }

private:
    static PyRef made(PyObject* bytes) {
        if (!PyBytes_Check(bytes)) {
            PyErr_SetString(PyExc_TypeError, "labels as bytes");
            return PyRef();
        }
        const std::string_view text(PyBytes_AS_STRING(bytes),
                                    static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
        return velmar::make_text(text);  // throws if it fails
    }

    PyObject* distinct_;  // list of bytes
    const std::int64_t* numbers_;
    std::vector<PyRef> made_;
};

struct Columns {
    const double* tmins;
    const double* tmaxs;
    Labels* labels;
    Py_ssize_t count;
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

// `count` rows from `first` on as a list of (tmin, tmax, label) tuples.
PyRef rows(Floats& floats, const Columns& columns, Py_ssize_t first, Py_ssize_t count) {
    PyRef list = PyRef::steal(PyList_New(count));
    if (!list) return list;
    for (Py_ssize_t k = 0; k < count; ++k) {
        const Py_ssize_t row = first + k;
        PyObject* tuple = PyTuple_New(3);
        if (!tuple) return PyRef();
        PyList_SET_ITEM(list.get(), k, tuple);
        PyObject* start = floats.next(columns.tmins[row]);
        PyObject* stop = start ? floats.next(columns.tmaxs[row]) : nullptr;
        if (!stop) {
            Py_XDECREF(start);
            return PyRef();
        }
        PyTuple_SET_ITEM(tuple, 0, start);
        PyTuple_SET_ITEM(tuple, 1, stop);
        PyObject* label = columns.labels->of_row(row);
        if (!label) return PyRef();
        PyTuple_SET_ITEM(tuple, 2, label);
        PyObject_GC_UnTrack(tuple);
    }
    return list;
}

PyRef triple(PyRef first, PyRef second, PyRef third) {
    PyRef tuple = PyRef::steal(PyTuple_New(3));
    if (!tuple || !first || !second || !third) return PyRef();
    PyTuple_SET_ITEM(tuple.get(), 0, first.release());
    PyTuple_SET_ITEM(tuple.get(), 1, second.release());
    PyTuple_SET_ITEM(tuple.get(), 2, third.release());
    return tuple;
}

// One document from its shape, (tmin, tmax, [(name, is_interval, count), ...]),
// taking its rows from `next_row` on.
PyRef document(PyObject* shape, const Columns& columns, Py_ssize_t& next_row) {
    PyObject* tier_shapes = PyTuple_GET_ITEM(shape, 2);
    const Py_ssize_t tier_count = PyList_GET_SIZE(tier_shapes);
    PyRef tiers = PyRef::steal(PyList_New(tier_count));
    if (!tiers) return tiers;
    Floats floats;
    for (Py_ssize_t t = 0; t < tier_count; ++t) {
        PyObject* tier_shape = PyList_GET_ITEM(tier_shapes, t);
        const Py_ssize_t count = PyLong_AsSsize_t(PyTuple_GET_ITEM(tier_shape, 2));
        if (count < 0 || next_row + count > columns.count) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "shapes and columns differ");
            return PyRef();
        }
        PyRef tier = triple(PyRef::borrow(PyTuple_GET_ITEM(tier_shape, 0)),
                            PyRef::borrow(PyTuple_GET_ITEM(tier_shape, 1)),
                            rows(floats, columns, next_row, count));
        if (!tier) return PyRef();
        PyList_SET_ITEM(tiers.get(), t, tier.release());
        next_row += count;
    }
    return triple(PyRef::steal(PyFloat_FromDouble(PyFloat_AsDouble(PyTuple_GET_ITEM(shape, 0)))),
                  PyRef::steal(PyFloat_FromDouble(PyFloat_AsDouble(PyTuple_GET_ITEM(shape, 1)))),
                  std::move(tiers));
}

PyRef documents(PyObject* shapes, const Columns& columns) {
    PyRef list = PyRef::steal(PyList_New(PyList_GET_SIZE(shapes)));
    Py_ssize_t next_row = 0;
    for (Py_ssize_t k = 0; list && k < PyList_GET_SIZE(shapes); ++k) {
        PyRef one = document(PyList_GET_ITEM(shapes, k), columns, next_row);
        if (!one) return PyRef();
        PyList_SET_ITEM(list.get(), k, one.release());
    }
    return list;
}

PyObject* build(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 5 || !PyList_Check(args[0]) || !PyList_Check(args[3])) {
        PyErr_SetString(PyExc_TypeError, "build(shapes, tmins, tmaxs, distinct, label_numbers)");
        return nullptr;
    }
    Buffer tmins, tmaxs, numbers;
    if (!tmins.open(args[1]) || !tmaxs.open(args[2]) || !numbers.open(args[4])) return nullptr;
    Labels labels(args[3], static_cast<const std::int64_t*>(numbers.data()));
    const Columns columns{static_cast<const double*>(tmins.data()),
                          static_cast<const double*>(tmaxs.data()), &labels,
                          tmins.count(sizeof(double))};
    if (tmaxs.count(sizeof(double)) != columns.count ||
        numbers.count(sizeof(std::int64_t)) != columns.count) {
        PyErr_SetString(PyExc_ValueError, "columns of different lengths");
        return nullptr;
    }
    velmar::GcPause pause;
    return velmar::run_guarded([&] { return documents(args[0], columns).release(); });
}

PyMethodDef methods[] = {
    {"build", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(build)), METH_FASTCALL,
     "textgrids2data's result from its shapes and textgrids2vectors' columns."},
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
