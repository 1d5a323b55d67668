#include "data_result.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "failure.hpp"

namespace velmar {

namespace {

PyRef make_tuple(PyRef first, PyRef second, PyRef third) {
    PyRef tuple = created(PyTuple_New(3));
    PyTuple_SET_ITEM(tuple.get(), 0, first.release());
    PyTuple_SET_ITEM(tuple.get(), 1, second.release());
    PyTuple_SET_ITEM(tuple.get(), 2, third.release());
    return tuple;
}

}  // namespace

PyRef DataBuilder::item(const textgrid::Item& item) {
    PyRef tuple = created(PyTuple_New(3));
    // Filled in order: the float reuse depends on it.
    PyTuple_SET_ITEM(tuple.get(), 0, floats_.number(item.tmin).release());
    PyTuple_SET_ITEM(tuple.get(), 1, floats_.number(item.tmax).release());
    PyTuple_SET_ITEM(tuple.get(), 2, texts_.text(item.label).release());
    // Only floats and a str: it can never be part of a cycle, so the
    // collector need not walk it (it would untrack it at its first pass).
    PyObject_GC_UnTrack(tuple.get());
    return tuple;
}

PyRef DataBuilder::tier_of(std::string_view name, bool is_interval, PyRef items) {
    return make_tuple(texts_.text(name), make_bool(is_interval), std::move(items));
}

PyRef DataBuilder::tier(const textgrid::Tier& tier) {
    PyRef items = created(PyList_New(static_cast<Py_ssize_t>(tier.items.size())));
    for (std::size_t i = 0; i < tier.items.size(); ++i)
        PyList_SET_ITEM(items.get(), static_cast<Py_ssize_t>(i), item(tier.items[i]).release());
    return tier_of(tier.name, tier.is_interval, std::move(items));
}

PyRef DataBuilder::document(const textgrid::TextGrid& grid) {
    PyRef tmin = make_float(grid.tmin);
    PyRef tmax = make_float(grid.tmax);
    PyRef tiers = created(PyList_New(static_cast<Py_ssize_t>(grid.tiers.size())));
    for (std::size_t i = 0; i < grid.tiers.size(); ++i)
        PyList_SET_ITEM(tiers.get(), static_cast<Py_ssize_t>(i), tier(grid.tiers[i]).release());
    return make_tuple(std::move(tmin), std::move(tmax), std::move(tiers));
}

void DataRows::add(const textgrid::Tier& tier, bool begins, std::span<const textgrid::Item> items) {
    if (begins) {
        rows_ = created(PyList_New(0));
        tiers_.push_back(builder_.tier_of(tier.name, tier.is_interval, PyRef::borrow(rows_.get())));
    }
    // Appended as they come: a declared count may lie, and the list's own
    // growth leaves less spare room than a buffer copied at the end.
    for (const textgrid::Item& item : items) {
        PyRef row = builder_.item(item);
        if (PyList_Append(rows_.get(), row.get()) != 0) python_api_failed();
    }
}

PyRef DataRows::finish(const textgrid::TextGrid& headers) {
    rows_ = PyRef();
    PyRef tmin = make_float(headers.tmin);
    PyRef tmax = make_float(headers.tmax);
    return make_tuple(std::move(tmin), std::move(tmax), created(tiers_.to_list()));
}

}  // namespace velmar
