#pragma once
// The structured and the vector form of a document, both ways.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/textgrid.hpp"
#include "runtime/parallel.hpp"

namespace textgrid {

// The same value as a document's item, so tiers change hands between the two
// forms without a copy of their items.
using ItemData = Item;

struct TierData {
    std::string tier_name;
    bool is_interval = true;
    Items items;
};

struct TextGridData {
    double tmin = 0.0;
    double tmax = 0.0;
    std::vector<TierData> tiers;
};

// Columns, one row per item, tier by tier. is_intervals holds 0/1 bytes (not
// std::vector<bool>) so the buffer can be handed to NumPy as-is.
struct TextGridVectors {
    std::vector<double> tmins;
    std::vector<double> tmaxs;
    std::vector<std::string> labels;
    std::vector<std::string> tier_names;
    std::vector<std::uint8_t> is_intervals;
};

TextGridData textgrid_to_data(const TextGrid& grid);
// Same result, but labels and names are moved out of a document about to be dropped.
TextGridData textgrid_to_data(TextGrid&& grid);
Result<TextGrid> data_to_textgrid(std::vector<TierData> tiers, std::optional<double> tmin,
                                  std::optional<double> tmax);

TextGridVectors textgrid_to_vectors(const TextGrid& grid);
TextGridVectors textgrid_to_vectors(TextGrid&& grid);
Result<TextGrid> vectors_to_textgrid(std::vector<double> tmins, std::vector<double> tmaxs,
                                     std::vector<std::string> labels,
                                     std::vector<std::string> tier_names,
                                     std::vector<std::uint8_t> is_intervals,
                                     std::optional<double> tmin, std::optional<double> tmax);

// Many files, each document handed to observe(i, document) on the calling
// thread, in input order, as soon as it is ready, while the pool goes on with
// later files: the caller's work on the documents overlaps the reading, and
// they need not all be alive at once. A file whose reading returns a
// TextGridError gives the empty document (bounds 0 and no tiers); only an
// InternalFailure (an unknown file_type, say) fails the whole batch. An
// exception from observe fails the batch once the files being read are done.
using DocumentObserver = std::function<void(std::size_t, TextGrid&&)>;
void read_textgrids(const std::vector<std::string>& files, bool strict, std::string_view file_type,
                    const DocumentObserver& observe, std::size_t processors = thread_count());

}  // namespace textgrid
