#include "write/batch_writer.hpp"

#include <utility>

#include "write/writer.hpp"

namespace textgrid {

namespace {

// Row numbers of each file, in row order: file k's rows are
// order[starts[k]] to order[starts[k + 1] - 1].
struct RowsByFile {
    std::vector<std::size_t> starts;
    std::vector<std::size_t> order;
};

RowsByFile rows_by_file(const std::vector<std::uint32_t>& file_ids, std::size_t files) {
    RowsByFile rows{std::vector<std::size_t>(files + 1, 0),
                    std::vector<std::size_t>(file_ids.size())};
    for (const std::uint32_t id : file_ids) ++rows.starts[id + 1];
    for (std::size_t k = 0; k < files; ++k) rows.starts[k + 1] += rows.starts[k];
    std::vector<std::size_t> next(rows.starts.begin(), rows.starts.end() - 1);
    for (std::size_t row = 0; row < file_ids.size(); ++row) rows.order[next[file_ids[row]]++] = row;
    return rows;
}

// The texts are copied here, on the file's task, not by the caller.
Result<TextGrid> file_of_rows(const ColumnViews& columns, const RowsByFile& rows,
                              std::size_t file) {
    const std::size_t begin = rows.starts[file];
    const std::size_t count = rows.starts[file + 1] - begin;
    std::vector<double> tmins(count), tmaxs(count);
    std::vector<std::string> labels(count), tier_names(count);
    std::vector<std::uint8_t> is_intervals(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t row = rows.order[begin + i];
        tmins[i] = columns.tmins[row];
        tmaxs[i] = columns.tmaxs[row];
        labels[i] = columns.labels[row];
        tier_names[i] = columns.tier_names[row];
        is_intervals[i] = columns.is_intervals[row];
    }
    return vectors_to_textgrid(std::move(tmins), std::move(tmaxs), std::move(labels),
                               std::move(tier_names), std::move(is_intervals), std::nullopt,
                               std::nullopt);
}

}  // namespace

std::vector<Status> write_textgrids(const std::vector<std::string>& paths, FileType file_type,
                                    const DocumentSource& build, std::size_t processors) {
    const auto write_one = [&](std::size_t i) -> Status {
        auto grid = build(i);
        if (!grid) return std::move(grid).error();
        if (paths[i].find('\0') != std::string::npos)
            return errors::nul_in_output_file_name(paths[i]);
        // One file a task: made whole here and stored with one write.
        const std::string text = render_textgrid_here(grid.value(), file_type);
        return store_chunks({iovec{const_cast<char*>(text.data()), text.size()}}, paths[i]);
    };
    std::vector<Status> outcomes;
    outcomes.reserve(paths.size());
    // Observed, so that the caller writes files too instead of sleeping
    // until the workers are done.
    parallel_map_pieces_ordered(
        paths.size(),
        [&](std::size_t begin, std::size_t end) {
            std::vector<Status> piece;
            piece.reserve(end - begin);
            for (std::size_t i = begin; i < end; ++i) piece.push_back(write_one(i));
            return piece;
        },
        [&](std::size_t, std::vector<Status>&& piece) {
            for (Status& outcome : piece) outcomes.push_back(std::move(outcome));
        },
        processors);
    return outcomes;
}

std::vector<Status> write_vectors_textgrids(const ColumnViews& columns,
                                            const std::vector<std::uint32_t>& file_ids,
                                            const std::vector<std::string>& paths,
                                            FileType file_type, std::size_t processors) {
    const RowsByFile rows = rows_by_file(file_ids, paths.size());
    return write_textgrids(
        paths, file_type, [&](std::size_t file) { return file_of_rows(columns, rows, file); },
        processors);
}

}  // namespace textgrid
