#pragma once
// Many TextGrid files built and written at once, a file per task on the pool:
// forced aligners write one per utterance, hundreds of thousands a corpus.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "convert/converter.hpp"
#include "model/file_type.hpp"
#include "model/textgrid.hpp"
#include "runtime/parallel.hpp"

namespace textgrid {

// Document i of a batch, or the error building it gave; called on any thread,
// once for each i.
using DocumentSource = std::function<Result<TextGrid>(std::size_t)>;

// Builds every document with `build` and stores it at paths[i] in the layout,
// each as write_textgrid stores one (whole or not at all), several at once on
// the pool. One file's failure stops no other; each file's outcome in order.
std::vector<Status> write_textgrids(const std::vector<std::string>& paths, FileType file_type,
                                    const DocumentSource& build,
                                    std::size_t processors = logical_processors());

// The rows of many files in one set of columns of one length, viewed where
// the caller holds them.
struct ColumnViews {
    std::span<const double> tmins;
    std::span<const double> tmaxs;
    std::span<const std::string_view> labels;
    std::span<const std::string_view> tier_names;
    std::span<const std::uint8_t> is_intervals;
};

// file_ids[row] is the index of the row's file in `paths`, each below
// paths.size() (the caller checks). Each file is built from its rows alone, as
// vectors_to_textgrid builds one with bounds fitted to them, and written as
// write_textgrids writes it; a file without rows gets that call's outcome for
// no rows.
std::vector<Status> write_vectors_textgrids(const ColumnViews& columns,
                                            const std::vector<std::uint32_t>& file_ids,
                                            const std::vector<std::string>& paths,
                                            FileType file_type,
                                            std::size_t processors = logical_processors());

}  // namespace textgrid
