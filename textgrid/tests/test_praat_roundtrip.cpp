// Praat itself reads what we write. Needs `praat` on PATH; skipped otherwise.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "temp_files.hpp"
#include "write/writer.hpp"

using namespace textgrid;

namespace {

std::string code_points(const std::string& utf8) {
    std::string out = "[";
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        std::uint32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (int k = 1; k < length; ++k) code = (code << 6) | (utf8[i + k] & 0x3F);
        out += std::to_string(code) + ",";
        i += length;
    }
    return out + "]";
}

// Praat's text reader turns CR LF and lone CR into LF, also inside strings.
std::string as_praat_reads_it(std::string text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// What the report should say; times are compared as numbers, so each line's
// numbers are rewritten through strtod and format_time.
std::string expected_report(const TextGrid& grid) {
    std::string out = "grid " + format_time(grid.tmin) + " " + format_time(grid.tmax) + "\n";
    for (const Tier& tier : grid.tiers) {
        out += std::string("tier ") + (tier.is_interval ? "1 " : "0 ") +
               code_points(as_praat_reads_it(tier.name)) + "\n";
        for (const Item& item : tier.items) {
            out += "item " + format_time(item.tmin) + " ";
            if (tier.is_interval) out += format_time(item.tmax) + " ";
            out += code_points(as_praat_reads_it(item.label)) + "\n";
        }
    }
    return out;
}

std::string normalised_report(const std::string& report) {
    std::istringstream lines(report);
    std::string out;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string word;
        words >> word;
        out += word;
        while (words >> word) {
            char* end = nullptr;
            const double number = std::strtod(word.c_str(), &end);
            out += ' ';
            out += word[0] != '[' && *end == '\0' ? format_time(number) : word;
        }
        out += "\n";
    }
    return out;
}

Tier tier(std::string name, bool is_interval, Items items) {
    Tier made;
    made.name = std::move(name);
    made.is_interval = is_interval;
    made.tmin = 0;
    made.tmax = 3;
    made.size = items.size();
    made.items = std::move(items);
    return made;
}

TextGrid awkward_document() {
    TextGrid grid;
    grid.tmin = 0;
    grid.tmax = 3;
    grid.add_tier(tier("words \"w\" ", true,
                       {{0, 0.1, "plain"},
                        {0.1, 0.30000000000000004, "say \"hi\""},
                        {0.30000000000000004, 1.0 / 3, "two\nlines"},
                        {1.0 / 3, 0.5, "\ttab\t"},
                        {0.5, 1, "  spaced  "},
                        {1, 1.5, "é日本😀"},
                        {1.5, 2.25, ""},
                        {2.25, 3, "cr\rand crlf\r\n\""}}));
    grid.add_tier(tier("marks", false, {{0.1, 0.1, "\"\""}, {1.0 / 3, 1.0 / 3, "ü\nß"}}));
    grid.add_tier(tier("", true, {{0, 3, "whole"}}));
    grid.size = grid.tiers.size();
    return grid;
}

class PraatReads : public ::testing::TestWithParam<FileType> {};

TEST_P(PraatReads, TheTiersTimesAndLabelsWeWrote) {
    if (std::system("command -v praat >/dev/null 2>&1") != 0) GTEST_SKIP() << "praat not on PATH";
    const std::filesystem::path dir = support::temp_dir("praat");
    const std::string script = TEXTGRID_TEST_DATA "/praat/report.praat";
    const auto report = dir / "report.txt";
    const auto file = dir / (GetParam() == FileType::Long ? "long.TextGrid" : "short.TextGrid");

    const TextGrid grid = awkward_document();
    ASSERT_TRUE(write_textgrid(grid, file.string(), GetParam()));
    const std::string command = "praat --no-pref-files --run '" + script + "' '" + file.string() +
                                "' > '" + report.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    const std::string output = support::read_file(report);
    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(normalised_report(output), expected_report(grid));
}

INSTANTIATE_TEST_SUITE_P(Layouts, PraatReads, ::testing::Values(FileType::Long, FileType::Short),
                         [](const auto& info) {
                             return std::string(info.param == FileType::Long ? "long" : "short");
                         });

}  // namespace
