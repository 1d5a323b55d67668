#pragma once
// Many TextGrid files built and written at once, a file per task on the pool:
// forced aligners write one per utterance, hundreds of thousands a corpus.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
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

// The rows of many files in one set of columns, file_ids[row] the index of
// its file in `paths`, each id below paths.size() (the caller checks) and all
// columns of one length. Each file is built from its rows alone, as
// vectors_to_textgrid builds one with bounds fitted to them, and written as
// write_textgrids writes it; a file without rows gets that call's outcome for
// no rows. The labels and tier names are moved out of `columns`.
std::vector<Status> write_vectors_textgrids(TextGridVectors& columns,
                                            const std::vector<std::uint32_t>& file_ids,
                                            const std::vector<std::string>& paths,
                                            FileType file_type,
                                            std::size_t processors = logical_processors());

}  // namespace textgrid
