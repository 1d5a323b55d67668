// Read throughput: generates a long-layout and a short-layout TextGrid of at
// least 56 MB (or --mb N) in /tmp and times read_textgrid on each (median of
// five runs), with one goal line per layout; or times the files given as
// arguments. For the long layout it also times the least a line-by-line
// reader does (least_reading.hpp), as a yardstick for the parse. With
// --corpus, the files given are one batch: loading, one-pass parsing and the
// yardstick for all of them together, each file in turn on one thread.
//
//   read_bench [--mb N] [file...]
//   read_bench --corpus file...
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "least_reading.hpp"
#include "read/lib.hpp"
#include "read/loading.hpp"
#include "read/parser_long.hpp"
#include "read/parser_short.hpp"
#include "runtime/parallel.hpp"
#include "timing.hpp"

namespace {

constexpr std::size_t DEFAULT_MEGABYTES = 56;
constexpr int RUNS = 5;
constexpr int TIERS = 4;

const char* const WORDS[] = {
    "the",  "quick",      "brown \"fox\"", "",     "jumps",
    "over", "a lazy dog", "sil",           "café", "d\xC3\xA9j\xC3\xA0 vu"};

std::string label_for(std::size_t i) {
    std::string label;
    for (char c : std::string(WORDS[i % std::size(WORDS)])) {
        if (c == '"') label += '"';  // Praat doubles quotes
        label += c;
    }
    return label;
}

// Same document in both layouts: TIERS interval tiers of `items` 10 ms intervals.
std::string generate(bool long_layout, std::size_t items) {
    const double end = static_cast<double>(items) * 0.01;
    std::string out = "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n";
    char number[64];
    const auto num = [&](double value) {
        std::snprintf(number, sizeof number, "%.15g", value);
        return std::string(number);
    };
    if (long_layout) {
        out += "xmin = 0 \nxmax = " + num(end) +
               " \ntiers? <exists> \nsize = " + std::to_string(TIERS) + " \nitem []: \n";
    } else {
        out += "0\n" + num(end) + "\n<exists>\n" + std::to_string(TIERS) + "\n";
    }
    for (int t = 0; t < TIERS; ++t) {
        const std::string name = "tier" + std::to_string(t);
        if (long_layout) {
            out += "    item [" + std::to_string(t + 1) +
                   "]:\n        class = \"IntervalTier\" \n"
                   "        name = \"" +
                   name + "\" \n        xmin = 0 \n        xmax = " + num(end) +
                   " \n        intervals: size = " + std::to_string(items) + " \n";
        } else {
            out += "\"IntervalTier\"\n\"" + name + "\"\n0\n" + num(end) + "\n" +
                   std::to_string(items) + "\n";
        }
        for (std::size_t i = 0; i < items; ++i) {
            const std::string tmin = num(static_cast<double>(i) * 0.01);
            const std::string tmax = num(static_cast<double>(i + 1) * 0.01);
            if (long_layout) {
                out += "        intervals [" + std::to_string(i + 1) +
                       "]:\n            xmin = " + tmin + " \n            xmax = " + tmax +
                       " \n            text = \"" + label_for(i + t) + "\" \n";
            } else {
                out += tmin + "\n" + tmax + "\n\"" + label_for(i + t) + "\"\n";
            }
        }
    }
    return out;
}

std::string write_sample(bool long_layout, std::size_t target_bytes) {
    // Size one small document to pick an item count that reaches the target.
    const std::size_t probe = 1000;
    const std::size_t per_item = generate(long_layout, probe).size() / (probe * TIERS);
    const std::string text = generate(long_layout, target_bytes / TIERS / per_item + 1);
    // Per process: others on the machine may run this benchmark at the same time.
    const std::string path = "/tmp/velmar_read_bench_" + std::to_string(getpid()) + "_" +
                             (long_layout ? "long" : "short") + ".TextGrid";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

void report(const char* what, double megabytes, Timing timing) {
    std::printf("  %-34s %8.1f ms  %8.0f MB/s  cpu %8.1f ms\n", what, timing.wall_seconds * 1e3,
                megabytes / timing.wall_seconds, timing.cpu_seconds * 1e3);
}

// The layout's throughput goal: >= 2 GB/s long, >= 500 MB/s short.
void print_goal(bool long_layout, double megabytes_per_second) {
    const double goal = long_layout ? 2000 : 500;
    const double scale = long_layout ? 1000 : 1;
    char what[64];
    std::snprintf(what, sizeof what, "native read, %s layout (read_bench)",
                  long_layout ? "long" : "short");
    std::printf("goal  %-48s %8.2f%-5s (goal >= %g%s)  %s\n", what, megabytes_per_second / scale,
                long_layout ? " GB/s" : " MB/s", goal / scale, long_layout ? " GB/s" : " MB/s",
                megabytes_per_second >= goal ? "met" : "NOT met");
}

// Times reading `path` every way the library offers; returns the MB/s of a
// strict read of the file in its named layout, or 0 if it cannot be read.
double measure_file(const std::string& path, bool long_layout) {
    const auto text = textgrid::load_text(path);
    if (!text) {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(),
                     text.error().to_string().c_str());
        return 0;
    }
    const double megabytes = static_cast<double>(text.value().view().size()) / 1e6;
    const auto grid = textgrid::read_textgrid(path, false, "auto");
    if (!grid) {
        std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(),
                     grid.error().to_string().c_str());
        return 0;
    }
    std::size_t items = 0;
    for (const auto& tier : grid.value().tiers) items += tier.items.size();
    std::printf("%s layout: %s, %.1f MB, %zu items\n", long_layout ? "long" : "short", path.c_str(),
                megabytes, items);
    const char* type = long_layout ? "long" : "short";
    const Timing strict = median_timing(RUNS, [&] {
        if (!textgrid::read_textgrid(path, true, type)) std::abort();
    });
    report("read_textgrid (file, strict)", megabytes, strict);
    report("read_textgrid (file, auto)", megabytes, median_timing(RUNS, [&] {
               if (!textgrid::read_textgrid(path, false, "auto")) std::abort();
           }));
    const Timing load = median_timing(RUNS, [&] {
        if (!textgrid::load_text(path)) std::abort();
    });
    report("load_text only", megabytes, load);
    report("parse only (text in memory)", megabytes, median_timing(RUNS, [&] {
               auto grid = textgrid::read_loaded_text(
                   text.value(), false,
                   long_layout ? textgrid::FileType::Long : textgrid::FileType::Short);
               if (!grid) std::abort();
           }));
    if (long_layout) {
        const Timing one_pass = median_timing(RUNS, [&] {
            if (!textgrid::parse_long_text(text.value().view(), false)) std::abort();
        });
        report("parse only, one pass", megabytes, one_pass);
        // The yardstick lists line feeds as 32-bit offsets.
        if (text.value().view().size() < (std::size_t{1} << 32)) {
            LeastReading least;
            const Timing yardstick =
                median_timing(RUNS, [&] { read_least(text.value().view(), least); });
            std::printf("  %-34s %8.1f ms  %8.0f MB/s  (one pass costs %.2fx this)\n",
                        "least line-by-line reading", yardstick.wall_seconds * 1e3,
                        megabytes / yardstick.wall_seconds,
                        one_pass.wall_seconds / yardstick.wall_seconds);
        }
        // However the work is shared out, a read costs at least the CPU of
        // loading plus that of parsing in one pass, spread over every core.
        const auto cores = static_cast<double>(textgrid::logical_processors());
        const double bound = (load.cpu_seconds + one_pass.cpu_seconds) / cores;
        std::printf("  %-34s %8.1f ms  %8.0f MB/s  (load + one pass, CPU over %.0f cores)\n",
                    "bound by the cores", bound * 1e3, megabytes / bound, cores);
    }
    return megabytes / strict.wall_seconds;
}

// The CPU a batch of long-layout files costs on one thread: loading them,
// reading them in one pass, and the yardstick on their loaded texts.
int measure_corpus(const std::vector<std::string>& paths) {
    std::vector<textgrid::LoadedText> texts;
    double megabytes = 0;
    for (const std::string& path : paths) {
        auto text = textgrid::load_text(path);
        if (!text) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), text.error().to_string().c_str());
            return 1;
        }
        megabytes += static_cast<double>(text.value().view().size()) / 1e6;
        texts.push_back(std::move(text).value());
    }
    std::printf("corpus: %zu files, %.1f MB, one thread\n", paths.size(), megabytes);
    report("load_text of each", megabytes, median_timing(RUNS, [&] {
               for (const std::string& path : paths)
                   if (!textgrid::load_text(path)) std::abort();
           }));
    report("parse of each, one pass", megabytes, median_timing(RUNS, [&] {
               for (const auto& text : texts)
                   if (!textgrid::parse_long_text(text.view(), true)) std::abort();
           }));
    LeastReading least;
    report("least line-by-line reading of each", megabytes, median_timing(RUNS, [&] {
               for (const auto& text : texts) read_least(text.view(), least);
           }));
    return 0;
}

}  // namespace

// With file arguments, measures those (layout told by "item []") instead of
// the generated samples; only the generated samples print goal lines.
int main(int argc, char** argv) {
    std::size_t megabytes = DEFAULT_MEGABYTES;
    int first_file = 1;
    if (argc > 2 && std::strcmp(argv[1], "--mb") == 0) {
        megabytes = std::strtoull(argv[2], nullptr, 10);
        first_file = 3;
    }
    std::printf("read_textgrid throughput, median of %d runs (1 MB = 10^6 bytes)\n", RUNS);
    if (argc > 1 && std::strcmp(argv[1], "--corpus") == 0)
        return measure_corpus(std::vector<std::string>(argv + 2, argv + argc));
    if (argc <= first_file) {
        double throughput[2] = {};
        for (const bool long_layout : {true, false}) {
            const std::string path = write_sample(long_layout, megabytes << 20);
            throughput[long_layout] = measure_file(path, long_layout);
            std::remove(path.c_str());
        }
        print_goal(true, throughput[1]);
        print_goal(false, throughput[0]);
        return throughput[0] > 0 && throughput[1] > 0 ? 0 : 1;
    }
    int status = 0;
    for (int i = first_file; i < argc; ++i) {
        const auto text = textgrid::load_text(argv[i]);
        const bool long_layout =
            text && text.value().view().find("item []") != std::string_view::npos;
        status |= measure_file(argv[i], long_layout) > 0 ? 0 : 1;
    }
    return status;
}
