#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "convert/converter.hpp"
#include "documents.hpp"
#include "read/lib.hpp"
#include "read/loading.hpp"
#include "read/read_plan.hpp"
#include "runtime/parallel.hpp"
#include "temp_files.hpp"
#include "write/writer.hpp"

using namespace textgrid;
using support::make_tier;

namespace {

std::string write_temp(const std::string& name, const std::string& bytes) {
    return support::temp_file("batch_" + name, bytes);
}

TextGrid grid_of(std::vector<Tier> tiers) {
    auto built = TextGrid::from_tiers(std::move(tiers), std::nullopt, std::nullopt);
    EXPECT_TRUE(built) << built.error().to_string();
    return std::move(built).value();
}

// Two rows: an interval tier and a point tier.
const std::string& two_rows_path() {
    static const std::string path = write_temp(
        "two.TextGrid",
        render_long(grid_of({make_tier("words", true, 0, 2, {{0, 1.5, "ab"}, {1.5, 2, ""}}),
                             make_tier("events", false, 0, 2, {})})));
    return path;
}

const std::string& one_row_path() {
    static const std::string path = write_temp(
        "one.TextGrid", render_short(grid_of({make_tier("pts", false, 0, 3, {{1, 1, "x"}})})));
    return path;
}

// Reads, but an interval ends before it starts: refused only when strict.
const std::string& invalid_path() {
    static const std::string path = [] {
        TextGrid grid;
        grid.tmin = 0;
        grid.tmax = 1;
        grid.size = 1;
        grid.add_tier(make_tier("w", true, 0, 1, {{0.5, 0.25, "backwards"}}));
        return write_temp("invalid.TextGrid", render_long(grid));
    }();
    return path;
}

// Enough items in one tier for the structured conversion to map it on the pool.
const std::string& large_path() {
    static const std::string path = [] {
        Items items;
        const std::size_t n = PARALLEL_ELEMENTS_PER_PROCESSOR * thread_count() * 4 + 3;
        for (std::size_t i = 0; i < n; ++i)
            items.push_back({double(i), double(i + 1), "item " + std::to_string(i)});
        return write_temp("large.TextGrid",
                          render_long(grid_of({make_tier("big", true, 0, double(n), items)})));
    }();
    return path;
}

// Large enough to be read spread over the pool, so a batch leaves it to the
// caller.
const std::string& spread_path() {
    static const std::string path = [] {
        Items items;
        for (std::size_t i = 0; i < 40000; ++i)
            items.push_back({double(i), double(i + 1), "word " + std::to_string(i % 997)});
        std::string text = render_long(grid_of({make_tier("words", true, 0, 40000.0, items)}));
        EXPECT_TRUE(is_large_file(text.size()));
        return write_temp("spread.TextGrid", text);
    }();
    return path;
}

const std::string missing_path = "/nonexistent/velmar/batch.TextGrid";

// Each batch's entries in input order, converted as the module converts them.
template <class Convert>
auto read_all(const std::vector<std::string>& files, bool strict, std::string_view file_type,
              std::size_t processors, Convert convert) {
    std::vector<decltype(convert(TextGrid{}))> entries;
    read_textgrids(
        files, strict, file_type,
        [&](std::size_t i, TextGrid&& grid) {
            EXPECT_EQ(i, entries.size());
            entries.push_back(convert(std::move(grid)));
        },
        processors);
    return entries;
}

std::vector<TextGridData> textgrids_to_data(const std::vector<std::string>& files, bool strict,
                                            std::string_view file_type,
                                            std::size_t processors = thread_count()) {
    return read_all(files, strict, file_type, processors,
                    [](TextGrid&& grid) { return textgrid_to_data(std::move(grid)); });
}

std::vector<TextGridVectors> textgrids_to_vectors(const std::vector<std::string>& files,
                                                  bool strict, std::string_view file_type,
                                                  std::size_t processors = thread_count()) {
    return read_all(files, strict, file_type, processors,
                    [](TextGrid&& grid) { return textgrid_to_vectors(std::move(grid)); });
}

void expect_same(const TextGridData& a, const TextGridData& b) { support::expect_same_data(a, b); }

void expect_same(const TextGridVectors& a, const TextGridVectors& b) {
    EXPECT_EQ(a.tmins, b.tmins);
    EXPECT_EQ(a.tmaxs, b.tmaxs);
    EXPECT_EQ(a.labels, b.labels);
    EXPECT_EQ(a.tier_names, b.tier_names);
    EXPECT_EQ(a.is_intervals, b.is_intervals);
}

bool is_empty(const TextGridData& data) {
    return data.tmin == 0.0 && data.tmax == 0.0 && data.tiers.empty();
}

// What reading one file on its own gives, empty when it cannot be read.
TextGridData single_data(const std::string& path, bool strict) {
    auto grid = read_textgrid(path, strict, "auto");
    return grid ? textgrid_to_data(grid.value()) : TextGridData{};
}

TextGridVectors single_vectors(const std::string& path, bool strict) {
    auto grid = read_textgrid(path, strict, "auto");
    return grid ? textgrid_to_vectors(grid.value()) : TextGridVectors{};
}

std::vector<std::string> mixed_files(std::size_t n) {
    const std::vector<std::string> kinds{two_rows_path(), missing_path, one_row_path(),
                                         invalid_path(),  large_path(), spread_path()};
    std::vector<std::string> files;
    for (std::size_t i = 0; i < n; ++i) files.push_back(kinds[i * 7 % kinds.size()]);
    return files;
}

}  // namespace

TEST(BatchData, EmptyListReadsNothingEvenWithAnUnknownFileType) {
    EXPECT_TRUE(textgrids_to_data({}, true, "LONG").empty());
    EXPECT_TRUE(textgrids_to_vectors({}, true, "LONG").empty());
}

TEST(BatchData, UnreadableFileGivesTheEmptyEntryInItsPlace) {
    for (const char* file_type : {"auto", "long"}) {
        const auto entries =
            textgrids_to_data({two_rows_path(), missing_path, two_rows_path()}, true, file_type);
        ASSERT_EQ(entries.size(), 3u) << file_type;
        EXPECT_EQ(entries[0].tiers.size(), 2u);
        EXPECT_TRUE(is_empty(entries[1]));
        expect_same(entries[2], entries[0]);
    }
}

TEST(BatchData, StrictDecidesWhetherAnInvalidFileIsEmpty) {
    EXPECT_TRUE(is_empty(textgrids_to_data({invalid_path()}, true, "auto")[0]));
    const auto lenient = textgrids_to_data({invalid_path()}, false, "auto");
    ASSERT_EQ(lenient[0].tiers.size(), 1u);
    EXPECT_EQ(lenient[0].tiers[0].items[0].label, "backwards");
}

struct BatchPath {
    const char* title;
    std::size_t files;
    std::size_t processors;
};

void PrintTo(const BatchPath& c, std::ostream* out) { *out << c.title; }

class BatchOnEitherPath : public ::testing::TestWithParam<BatchPath> {};

// The pool must give exactly what reading each file on its own gives, in order,
// including the large file whose tier is mapped by a nested parallel call and
// the one left to the caller.
TEST_P(BatchOnEitherPath, EqualsEachFileReadOnItsOwn) {
    const auto& c = GetParam();
    const auto files = mixed_files(c.files);
    for (const bool strict : {true, false}) {
        const auto data = textgrids_to_data(files, strict, "auto", c.processors);
        const auto vectors = textgrids_to_vectors(files, strict, "auto", c.processors);
        ASSERT_EQ(data.size(), files.size());
        ASSERT_EQ(vectors.size(), files.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
            SCOPED_TRACE(files[i]);
            expect_same(data[i], single_data(files[i], strict));
            expect_same(vectors[i], single_vectors(files[i], strict));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    BatchPaths, BatchOnEitherPath,
    ::testing::Values(BatchPath{"caller", 1, 2}, BatchPath{"one_processor", 19, 1},
                      BatchPath{"pool_few_files", 7, 2}, BatchPath{"pool_uneven_pieces", 97, 3},
                      BatchPath{"pool_this_machine", 10 * thread_count() + 21, thread_count()}));

TEST(BatchData, UnknownFileTypeFailsTheWholeBatchOnEitherPath) {
    for (const std::size_t n : {std::size_t{1}, std::size_t{60}}) {
        const std::vector<std::string> files(n, two_rows_path());
        try {
            textgrids_to_data(files, true, "LONG", 2);
            ADD_FAILURE() << "no failure for " << n << " files";
        } catch (const InternalFailure& failure) {
            EXPECT_STREQ(failure.what(), "Unknown file type: LONG");
        }
        EXPECT_THROW(textgrids_to_vectors(files, true, "LONG", 2), InternalFailure);
    }
}
