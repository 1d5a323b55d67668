#pragma once
// The structured form, (tmin, tmax, [(name, is_interval, [(tmin, tmax, label),
// ...]), ...]), of textgrid2data and textgrids2data.

#include <Python.h>

#include "converter.hpp"
#include "pyref.hpp"
#include "results.hpp"
#include "textgrid.hpp"

namespace velmar {

// Builds the structured form from a document or from its converted form. What
// it shares (equal labels, equal neighbouring times) spans every result it
// builds.
class DataBuilder {
public:
    PyRef document(const textgrid::TextGrid& grid);
    PyRef document(const textgrid::TextGridData& data);

private:
    template <class Item>
    PyRef item(const Item& item);
    template <class Tier>
    PyRef tier(const Tier& tier);
    template <class Grid>
    PyRef whole(const Grid& grid);

    FloatReuse floats_;
    TextCache texts_;
};

// The structured form read from the document itself.
PyRef build_data_result(const textgrid::TextGrid& grid);

}  // namespace velmar
