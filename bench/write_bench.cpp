// Writer throughput (MB/s of file text) for a document of a million items, in
// both layouts, rendered on one core and on all cores, and stored end to end.
//
//   write_bench [items] [output-path] [long|short]

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/parallel.hpp"
#include "timing.hpp"
#include "write/writer.hpp"

using namespace textgrid;

namespace {

constexpr int RUNS = 5;

TextGrid make_document(std::size_t items) {
    // Three-decimal times and short words, as a forced aligner produces them;
    // a sprinkling of quotes and a point tier a tenth the size.
    Tier words;
    words.name = "words";
    Tier marks;
    marks.name = "marks";
    marks.is_interval = false;
    const auto time = [](std::size_t i) {
        return std::round(static_cast<double>(i) * 137.0) / 1000;
    };
    for (std::size_t i = 0; i < items; ++i) {
        std::string label = i % 50 == 0 ? "\"quoted\"" : "word" + std::to_string(i % 9973);
        words.items.push_back({time(i), time(i + 1), std::move(label)});
        if (i % 10 == 0) marks.items.push_back({time(i), time(i), i % 20 ? "" : "peak"});
    }
    for (Tier* tier : {&words, &marks}) {
        tier->size = tier->items.size();
        tier->tmin = 0;
        tier->tmax = time(items);
    }
    TextGrid grid;
    grid.tmax = time(items);
    grid.add_tier(std::move(words));
    grid.add_tier(std::move(marks));
    grid.size = 2;
    return grid;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t items = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
    const std::string path = argc > 2 ? argv[2] : "/tmp/velmar_write_bench.TextGrid";
    const TextGrid grid = make_document(items);
    const std::size_t all = logical_processors();
    std::size_t total_items = 0;
    for (const Tier& tier : grid.tiers) total_items += tier.items.size();
    std::printf("document: %zu items in %zu tiers; logical processors: %zu\n", total_items,
                grid.tiers.size(), all);

    using Render = std::string (*)(const TextGrid&, std::size_t);
    const struct {
        const char* name;
        Render render;
        FileType type;
    } layouts[] = {{"long", &render_long, FileType::Long},
                   {"short", &render_short, FileType::Short}};

    std::vector<std::size_t> processor_counts = {1};
    if (all >= 2) processor_counts.push_back(2);
    if (all > 2) processor_counts.push_back(all);

    const std::string only = argc > 3 ? argv[3] : "";
    for (const auto& layout : layouts) {
        if (!only.empty() && only != layout.name) continue;
        const double megabytes = static_cast<double>(layout.render(grid, 1).size()) / 1e6;
        std::printf("%-5s layout: %.1f MB\n", layout.name, megabytes);
        // Through /dev/null the file text is rendered in pieces and handed to
        // the system without being joined: rendering alone, as it scales.
        for (const char* target : {"/dev/null", path.c_str()}) {
            double one_core = 0;
            for (std::size_t p : processor_counts) {
                const double seconds = best_seconds(RUNS, [&] {
                    if (!write_textgrid(grid, target, layout.type, p)) std::abort();
                });
                if (p == 1) one_core = seconds;
                std::printf("  write to %-18s P = %-3zu %8.1f MB/s %8.1f ms  speed-up %.2fx\n",
                            target == path.c_str() ? "file" : target, p, megabytes / seconds,
                            seconds * 1e3, one_core / seconds);
            }
        }
        for (std::size_t p : {std::size_t{1}, all}) {
            const double seconds = best_seconds(RUNS, [&] { (void)layout.render(grid, p); });
            std::printf("  render to one string    P = %-3zu %8.1f MB/s %8.1f ms\n", p,
                        megabytes / seconds, seconds * 1e3);
        }
    }
    std::remove(path.c_str());
    return 0;
}
