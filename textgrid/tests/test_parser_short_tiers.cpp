// Reading a short-layout text's tiers side by side must give exactly what one
// pass gives: the document, or the first fault with its message and line.
// Labels over several lines, counts that lie and texts cut short all move the
// tiers away from where their headers put them.
#include <gtest/gtest.h>

#include <random>
#include <span>
#include <string>
#include <vector>

#include "exact.hpp"
#include "read/parser_short.hpp"
#include "render.hpp"
#include "runtime/parallel.hpp"

using namespace textgrid;
using support::render;
using support::same_results;

namespace {

class ShortMaker {
public:
    explicit ShortMaker(unsigned seed) : random_(seed) {}

    std::string document(bool faults) {
        const int tiers = 2 + pick(4);
        std::string out = "File type = \"ooTextFile\"" + eol() + "Object class = \"TextGrid\"" +
                          eol() + (pick(4) ? eol() : "") + "0" + eol() + "100" + eol() +
                          "<exists>" + eol() + std::to_string(tiers + (faults ? pick(3) - 1 : 0)) +
                          eol();
        for (int t = 0; t < tiers; ++t) out += tier(faults);
        if (faults && pick(3) == 0) out.resize(static_cast<std::size_t>(pick(int(out.size()))));
        return out;
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    std::string eol() { return pick(5) == 0 ? "\r\n" : "\n"; }

    // Labels over several lines only in some tiers, so that most tiers stay
    // where their headers put them.
    std::string label(bool may_span_lines) {
        static const char* const LABELS[] = {
            "\"\"", "\"word\"",       "\"say \"\"hi\"\"\"",  "\"caf\xC3\xA9\"",
            "bare", "\"two\nlines\"", "\"\nIntervalTier\n\""};
        return LABELS[may_span_lines && pick(10) == 0 ? 5 + pick(2) : pick(5)];
    }

    std::string tier(bool faults) {
        const bool interval = pick(4) != 0;
        const bool spans_lines = pick(5) == 0;
        std::string kind = interval ? "\"IntervalTier\"" : "\"TextTier\"";
        if (faults && pick(15) == 0) kind = "\"PitchTier\"";
        const int items = 20 + pick(200);
        int declared = items;
        if (faults && pick(6) == 0) declared += pick(5) - 2;
        if (faults && pick(30) == 0) declared = 1000000000;
        std::string out = kind + eol() + label(spans_lines) + eol() + "0" + eol() + "100" + eol() +
                          std::to_string(declared) + eol();
        double time = 0;
        for (int i = 0; i < items; ++i) {
            const double next = time + 0.25 * (1 + pick(3)) - (faults && pick(80) == 0 ? 1 : 0);
            out += std::to_string(time) + eol();
            if (interval) out += std::to_string(next) + eol();
            out += label(spans_lines) + eol();
            time = next;
        }
        return out;
    }

    std::mt19937 random_;
};

// What loading counts of a text cut into `pieces`.
std::vector<CountedPiece> counts_in(std::string_view text, std::size_t pieces) {
    std::vector<CountedPiece> counts;
    for (std::size_t k = 0; k < pieces; ++k) {
        const std::size_t begin = k * text.size() / pieces;
        const std::size_t end = (k + 1) * text.size() / pieces;
        counts.push_back(
            {begin, end, count_quotes_and_line_feeds(text.substr(begin, end - begin))});
    }
    return counts;
}

}  // namespace

class ShortTiersApart : public ::testing::TestWithParam<bool> {};

TEST_P(ShortTiersApart, MatchOnePass) {
    for (unsigned seed = 1; seed <= 300; ++seed) {
        const std::string text = ShortMaker(seed).document(GetParam());
        for (const bool strict : {false, true}) {
            const auto one_pass = parse_short_text(text, strict);
            for (const std::size_t pieces : {0u, 1u, 7u, 64u}) {
                const auto apart = parse_short_text(text, strict, true, counts_in(text, pieces));
                ASSERT_TRUE(same_results(apart, one_pass))
                    << "seed " << seed << ", " << pieces << " pieces, strict = " << strict
                    << "\napart:    " << render(apart) << "\none pass: " << render(one_pass)
                    << "\ntext:\n"
                    << text;
                // Handed over tier by tier as read: the same rows in the same order.
                TextGrid told;
                auto observed = parse_short_text(
                    text, strict, true, counts_in(text, pieces),
                    [&](const Tier& tier, bool begins, std::span<const Item> items) {
                        if (begins) {
                            told.add_tier(tier);
                            told.tiers.back().items.clear();
                        }
                        told.tiers.back().items.insert(told.tiers.back().items.end(), items.begin(),
                                                       items.end());
                    });
                if (!one_pass) {
                    ASSERT_TRUE(same_results(observed, one_pass)) << "seed " << seed;
                    continue;
                }
                ASSERT_TRUE(observed) << "seed " << seed;
                for (const Tier& tier : observed.value().tiers) EXPECT_TRUE(tier.items.empty());
                told.tmin = observed.value().tmin;
                told.tmax = observed.value().tmax;
                told.size = observed.value().size;
                ASSERT_EQ(render(told), render(one_pass)) << "seed " << seed;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Generated, ShortTiersApart, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "with_faults" : "sound"; });
