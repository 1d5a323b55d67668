#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "temp_files.hpp"
#include "write/batch_writer.hpp"
#include "write/writer.hpp"

using namespace textgrid;

namespace {

std::vector<std::string> paths_in(const std::string& directory, std::size_t count) {
    std::vector<std::string> paths;
    for (std::size_t k = 0; k < count; ++k)
        paths.push_back(directory + "f" + std::to_string(k) + ".TextGrid");
    return paths;
}

}  // namespace

// Rows of files interleaved, a file without rows and a path that cannot be
// written among good ones: each file as it would be written alone.
TEST(BatchWriter, EachFileIsWrittenFromItsOwnRowsAsItWouldBeAlone) {
    const std::string directory = support::temp_dir("batch_writer/");
    const std::vector<double> tmins{0, 0, 1, 1, 0};
    const std::vector<double> tmaxs{1, 1, 2, 3, 1};
    const std::vector<std::string_view> labels{"a", "b", "c", "d", "e"};
    const std::vector<std::string_view> names{"w", "v", "w", "v", "w"};
    const std::vector<std::uint8_t> flags{1, 1, 1, 1, 1};
    const std::vector<std::uint32_t> file_ids{0, 1, 0, 1, 3};
    auto paths = paths_in(directory, 4);
    paths[3] = directory + "missing/f3.TextGrid";
    const auto outcomes = write_vectors_textgrids({tmins, tmaxs, labels, names, flags}, file_ids,
                                                  paths, FileType::Short, 4);
    ASSERT_EQ(outcomes.size(), 4u);
    EXPECT_TRUE(outcomes[0] && outcomes[1]);
    EXPECT_FALSE(outcomes[2]);  // no rows: no bounds to fit
    EXPECT_EQ(outcomes[3].error().os_code(), ENOENT);
    const auto alone = vectors_to_textgrid({0, 1}, {1, 2}, {"a", "c"}, {"w", "w"}, {1, 1},
                                           std::nullopt, std::nullopt);
    EXPECT_EQ(support::read_file(paths[0]), render_textgrid(alone.value(), FileType::Short));
    EXPECT_EQ(outcomes[2].error(),
              vectors_to_textgrid({}, {}, {}, {}, {}, std::nullopt, std::nullopt).error());
}

// Enough files to go to the pool.
TEST(BatchWriter, ManyDocumentsAreAllWritten) {
    const auto paths = paths_in(support::temp_dir("batch_many/"), 200);
    const auto outcomes = write_textgrids(paths, FileType::Long, [](std::size_t i) {
        return TextGrid::from_tiers({}, 0.0, static_cast<double>(i + 1));
    });
    for (std::size_t i = 0; i < paths.size(); ++i) {
        ASSERT_TRUE(outcomes[i]) << i;
        EXPECT_NE(support::read_file(paths[i]).find("xmax = " + std::to_string(i + 1) + " "),
                  std::string::npos);
    }
}
