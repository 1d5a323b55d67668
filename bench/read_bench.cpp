// Read throughput: generates a long-layout and a short-layout TextGrid of at
// least 50 MB in /tmp and times read_textgrid on each (best of several runs),
// or times the files given as arguments.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "lib.hpp"
#include "parser_long.hpp"
#include "parser_short.hpp"
#include "text.hpp"
#include "timing.hpp"

namespace {

constexpr std::size_t kTargetBytes = 56u << 20;
constexpr int kRuns = 10;
constexpr int kTiers = 4;

const char* const kWords[] = {"the", "quick", "brown \"fox\"", "", "jumps", "over",
                              "a lazy dog", "sil", "café", "d\xC3\xA9j\xC3\xA0 vu"};

std::string label_for(std::size_t i) {
    std::string label;
    for (char c : std::string(kWords[i % std::size(kWords)])) {
        if (c == '"') label += '"';  // Praat doubles quotes
        label += c;
    }
    return label;
}

// Same document in both layouts: kTiers interval tiers of `items` 10 ms intervals.
std::string generate(bool long_layout, std::size_t items) {
    const double end = static_cast<double>(items) * 0.01;
    std::string out = "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n";
    char number[64];
    const auto num = [&](double value) {
        std::snprintf(number, sizeof number, "%.15g", value);
        return std::string(number);
    };
    if (long_layout) {
        out += "xmin = 0 \nxmax = " + num(end) + " \ntiers? <exists> \nsize = " +
               std::to_string(kTiers) + " \nitem []: \n";
    } else {
        out += "0\n" + num(end) + "\n<exists>\n" + std::to_string(kTiers) + "\n";
    }
    for (int t = 0; t < kTiers; ++t) {
        const std::string name = "tier" + std::to_string(t);
        if (long_layout) {
            out += "    item [" + std::to_string(t + 1) + "]:\n        class = \"IntervalTier\" \n"
                   "        name = \"" + name + "\" \n        xmin = 0 \n        xmax = " + num(end) +
                   " \n        intervals: size = " + std::to_string(items) + " \n";
        } else {
            out += "\"IntervalTier\"\n\"" + name + "\"\n0\n" + num(end) + "\n" +
                   std::to_string(items) + "\n";
        }
        for (std::size_t i = 0; i < items; ++i) {
            const std::string tmin = num(static_cast<double>(i) * 0.01);
            const std::string tmax = num(static_cast<double>(i + 1) * 0.01);
            if (long_layout) {
                out += "        intervals [" + std::to_string(i + 1) + "]:\n            xmin = " +
                       tmin + " \n            xmax = " + tmax + " \n            text = \"" +
                       label_for(i + t) + "\" \n";
            } else {
                out += tmin + "\n" + tmax + "\n\"" + label_for(i + t) + "\"\n";
            }
        }
    }
    return out;
}

std::string write_sample(bool long_layout) {
    // Size one small document to pick an item count that reaches the target.
    const std::size_t probe = 1000;
    const std::size_t per_item = generate(long_layout, probe).size() / (probe * kTiers);
    const std::string text = generate(long_layout, kTargetBytes / kTiers / per_item + 1);
    const std::string path = std::string("/tmp/velmar_read_bench_") +
                             (long_layout ? "long" : "short") + ".TextGrid";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

void report(const char* what, double megabytes, double seconds) {
    std::printf("  %-34s %8.1f ms  %8.0f MB/s\n", what, seconds * 1e3, megabytes / seconds);
}

// Times reading `path` every way the library offers.
int measure_file(const std::string& path, bool long_layout) {
    const auto text = textgrid::load_text(path);
    if (!text) {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), text.error().to_string().c_str());
        return 1;
    }
    const double megabytes = static_cast<double>(text.value().size()) / 1e6;
    const auto grid = textgrid::read_textgrid(path, false, "auto");
    if (!grid) {
        std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), grid.error().to_string().c_str());
        return 1;
    }
    std::size_t items = 0;
    for (const auto& tier : grid.value().tiers) items += tier.items.size();
    std::printf("%s layout: %s, %.1f MB, %zu items\n", long_layout ? "long" : "short",
                path.c_str(), megabytes, items);
    const char* type = long_layout ? "long" : "short";
    report("read_textgrid (file, strict)", megabytes, best_seconds(kRuns, [&] {
               if (!textgrid::read_textgrid(path, true, type)) std::abort();
           }));
    report("read_textgrid (file, auto)", megabytes, best_seconds(kRuns, [&] {
               if (!textgrid::read_textgrid(path, false, "auto")) std::abort();
           }));
    report("load_text_buffer only", megabytes, best_seconds(kRuns, [&] {
               if (!textgrid::load_text_buffer(path)) std::abort();
           }));
    report("parse only (text in memory)", megabytes, best_seconds(kRuns, [&] {
               auto grid = long_layout ? textgrid::parse_long_text(text.value(), false)
                                       : textgrid::parse_short_text(text.value(), false);
               if (!grid) std::abort();
           }));
    if (long_layout) {
        report("parse only, one pass", megabytes, best_seconds(kRuns, [&] {
                   if (!textgrid::parse_long_text_one_pass(text.value(), false)) std::abort();
               }));
    }
    return 0;
}

int measure(bool long_layout) { return measure_file(write_sample(long_layout), long_layout); }

}  // namespace

// With file arguments, measures those (layout told by "item []") instead of
// the generated samples.
int main(int argc, char** argv) {
    std::printf("read_textgrid throughput, best of %d runs (1 MB = 10^6 bytes)\n", kRuns);
    if (argc < 2) return measure(true) | measure(false);
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        const auto text = textgrid::load_text(argv[i]);
        const bool long_layout = text && text.value().find("item []") != std::string::npos;
        status |= measure_file(argv[i], long_layout);
    }
    return status;
}
