#pragma once
// The structured form, (tmin, tmax, [(name, is_interval, [(tmin, tmax, label),
// ...]), ...]), of textgrid2data and textgrids2data.

#include <Python.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/textgrid.hpp"
#include "pyref.hpp"
#include "results.hpp"

namespace velmar {

// Builds the structured form from documents read. What it shares (equal
// labels, equal neighbouring times) spans every result it builds.
class DataBuilder {
public:
    PyRef document(const textgrid::TextGrid& grid);

    // One row's (tmin, tmax, label), and a tier's (name, is_interval, rows).
    PyRef item(const textgrid::Item& item);
    PyRef tier_of(std::string_view name, bool is_interval, PyRef items);

private:
    PyRef tier(const textgrid::Tier& tier);

    FloatReuse floats_;
    TextCache texts_;
};

// The structured form built while a file is read: each row becomes its tuple
// as the reader hands it over, so no native copy of the rows piles up.
class DataRows {
public:
    void add(const textgrid::Tier& tier, bool begins, std::span<const textgrid::Item> items);
    // The whole form, with the document's own bounds.
    PyRef finish(const textgrid::TextGrid& headers);

private:
    GcPause pause_;
    DataBuilder builder_;
    PyRefColumn tiers_;
    PyRef rows_;  // the list of the tier under way
};

}  // namespace velmar
