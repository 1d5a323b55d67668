#include "convert/converter.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "read/lib.hpp"
#include "read/loading.hpp"
#include "read/read_plan.hpp"
#include "runtime/parallel.hpp"

namespace textgrid {

namespace {

// A tier takes the caller's bounds when given, otherwise it is fitted to its
// items (one without items gets the document's bounds from from_tiers).
Tier make_tier(std::string name, bool is_interval, Items items, std::optional<double> tmin,
               std::optional<double> tmax) {
    Tier tier;
    tier.name = std::move(name);
    tier.is_interval = is_interval;
    tier.tmin = tmin ? *tmin : lowest_time<&Item::tmin>(items);
    tier.tmax = tmax ? *tmax : highest_time<&Item::tmax>(items);
    tier.size = items.size();
    tier.items = std::move(items);
    return tier;
}

// Heterogeneous lookup: rows are looked up by view, without building a string.
struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept {
        return std::hash<std::string_view>{}(name);
    }
};

struct RowGroup {
    std::size_t first_row;  // its tier name becomes the tier's name
    bool is_interval;
    Items items;
};

// Rows grouped by tier name, groups in order of first appearance. The map is
// keyed by views into `tier_names`, which must outlive it unchanged.
std::vector<RowGroup> group_rows(const std::vector<double>& tmins, const std::vector<double>& tmaxs,
                                 std::vector<std::string>& labels,
                                 const std::vector<std::string>& tier_names,
                                 const std::vector<std::uint8_t>& is_intervals) {
    std::vector<RowGroup> groups;
    std::unordered_map<std::string_view, std::size_t, NameHash, std::equal_to<>> index_of;
    std::size_t current = 0;
    for (std::size_t row = 0; row < tier_names.size(); ++row) {
        const std::string_view name = tier_names[row];
        // Rows of one tier usually come together; skip hashing while they do.
        if (groups.empty() || name != tier_names[groups[current].first_row]) {
            auto [it, inserted] = index_of.try_emplace(name, groups.size());
            if (inserted) groups.push_back(RowGroup{row, is_intervals[row] != 0, {}});
            current = it->second;
        }
        groups[current].items.push_back(Item{tmins[row], tmaxs[row], std::move(labels[row])});
    }
    return groups;
}

// Stable ascending order by start time. A NaN start cannot be ordered.
Status sort_by_start(Items& items) {
    if (items.size() < 2) return Ok{};
    bool sorted = true;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (std::isnan(items[i].tmin)) return errors::nan_start_time();
        if (i > 0 && items[i].tmin < items[i - 1].tmin) sorted = false;
    }
    if (!sorted)
        std::stable_sort(items.begin(), items.end(),
                         [](const Item& a, const Item& b) { return a.tmin < b.tmin; });
    return Ok{};
}

template <class Grid>
TextGridData to_data(Grid&& grid) {
    constexpr bool consume = !std::is_const_v<std::remove_reference_t<Grid>>;
    TextGridData data{grid.tmin, grid.tmax, {}};
    data.tiers.reserve(grid.tiers.size());
    for (auto& tier : grid.tiers) {
        if constexpr (consume)
            data.tiers.push_back(
                TierData{std::move(tier.name), tier.is_interval, std::move(tier.items)});
        else
            data.tiers.push_back(TierData{tier.name, tier.is_interval, tier.items});
    }
    return data;
}

template <class Grid>
TextGridVectors to_vectors(Grid&& grid) {
    constexpr bool consume = !std::is_const_v<std::remove_reference_t<Grid>>;
    std::size_t rows = 0;
    for (const Tier& tier : grid.tiers) rows += tier.items.size();
    TextGridVectors vectors;
    vectors.tmins.reserve(rows);
    vectors.tmaxs.reserve(rows);
    vectors.labels.reserve(rows);
    vectors.tier_names.reserve(rows);
    vectors.is_intervals.reserve(rows);
    for (auto& tier : grid.tiers) {
        for (auto& item : tier.items) {
            vectors.tmins.push_back(item.tmin);
            vectors.tmaxs.push_back(item.tmax);
            if constexpr (consume)
                vectors.labels.push_back(std::move(item.label));
            else
                vectors.labels.push_back(item.label);
        }
        vectors.tier_names.insert(vectors.tier_names.end(), tier.items.size(), tier.name);
        vectors.is_intervals.insert(vectors.is_intervals.end(), tier.items.size(),
                                    tier.is_interval ? 1 : 0);
    }
    return vectors;
}

// The caller runs pieces of a batch too while none is ready for it: short
// ones keep it from holding back the finished pieces for long.
constexpr std::size_t BATCH_PIECES_PER_PROCESSOR = 32;

// A batch runs ahead of its observer while the files read and not yet
// observed hold fewer rows than this (some 16 MB): files of very different
// sizes then keep every core busy while one large file is read or observed.
constexpr std::size_t BATCH_ROWS_WAITING = std::size_t{1} << 18;

std::size_t rows_of(const TextGrid& document) {
    std::size_t rows = 0;
    for (const auto& tier : document.tiers) rows += tier.items.size();
    return rows;
}

// A batch's file as a worker left it: its document, or a large file opened
// and left to the caller, whose reading spreads over the whole pool.
struct WorkerEntry {
    std::optional<TextGrid> entry;
    std::optional<OpenedFile> left;
};

// An unreadable file gives the empty document; its error text is of no use to anyone.
TextGrid or_empty(Result<TextGrid> grid) {
    if (!grid) return TextGrid{};
    return std::move(grid).value();
}

}  // namespace

TextGridData textgrid_to_data(const TextGrid& grid) { return to_data(grid); }

TextGridData textgrid_to_data(TextGrid&& grid) { return to_data(grid); }

Result<TextGrid> data_to_textgrid(std::vector<TierData> tiers, std::optional<double> tmin,
                                  std::optional<double> tmax) {
    std::vector<Tier> built;
    built.reserve(tiers.size());
    for (TierData& tier : tiers) {
        built.push_back(make_tier(std::move(tier.tier_name), tier.is_interval,
                                  std::move(tier.items), tmin, tmax));
    }
    return TextGrid::from_tiers(std::move(built), tmin, tmax);
}

TextGridVectors textgrid_to_vectors(const TextGrid& grid) { return to_vectors(grid); }

TextGridVectors textgrid_to_vectors(TextGrid&& grid) { return to_vectors(grid); }

Result<TextGrid> vectors_to_textgrid(std::vector<double> tmins, std::vector<double> tmaxs,
                                     std::vector<std::string> labels,
                                     std::vector<std::string> tier_names,
                                     std::vector<std::uint8_t> is_intervals,
                                     std::optional<double> tmin, std::optional<double> tmax) {
    const std::size_t rows = tmins.size();
    if (tmaxs.size() != rows || labels.size() != rows || tier_names.size() != rows ||
        is_intervals.size() != rows)
        return errors::vectors_differ_in_length();

    std::vector<RowGroup> groups = group_rows(tmins, tmaxs, labels, tier_names, is_intervals);
    std::vector<Tier> tiers;
    tiers.reserve(groups.size());
    for (RowGroup& group : groups) {
        if (auto sorted = sort_by_start(group.items); !sorted) return std::move(sorted).error();
        tiers.push_back(make_tier(std::move(tier_names[group.first_row]), group.is_interval,
                                  std::move(group.items), tmin, tmax));
    }
    return TextGrid::from_tiers(std::move(tiers), tmin, tmax);
}

void read_textgrids(const std::vector<std::string>& files, bool strict, std::string_view file_type,
                    const DocumentObserver& observe, std::size_t processors) {
    if (files.empty()) return;
    // Unreadable files give empty documents, but an unknown type fails the batch.
    const FileType type = file_type_named(file_type);
    // On a worker, a large regular file is only looked at: read there, in one
    // pass, it would keep one core busy while the other ran out of files.
    const auto on_worker = [&](std::size_t i) -> WorkerEntry {
        auto opened = open_for_reading(files[i]);
        if (!opened) return {TextGrid{}, std::nullopt};
        const struct stat& info = opened.value().info;
        if (S_ISREG(info.st_mode) && is_large_file(static_cast<std::uint64_t>(info.st_size)))
            return {std::nullopt, std::move(opened).value()};
        return {or_empty(read_textgrid(std::move(opened).value(), strict, type)), std::nullopt};
    };
    // The documents are freed where they were read, not on the caller.
    FreedByMakers<std::vector<WorkerEntry>> freed;
    const auto rows = [](const MadeOnThread<std::vector<WorkerEntry>>& piece) {
        std::size_t sum = 0;
        for (const auto& made : piece.value) sum += made.entry ? rows_of(*made.entry) : 0;
        return sum;
    };
    parallel_map_pieces_ordered_weighed(
        files.size(),
        [&](std::size_t begin, std::size_t end) {
            freed.free_own();
            std::vector<WorkerEntry> entries;
            entries.reserve(end - begin);
            for (std::size_t i = begin; i < end; ++i) entries.push_back(on_worker(i));
            return made_here(std::move(entries));
        },
        rows, BATCH_ROWS_WAITING,
        [&](std::size_t begin, MadeOnThread<std::vector<WorkerEntry>>&& piece) {
            for (std::size_t j = 0; j < piece.value.size(); ++j) {
                // Read into its place, not a temporary: the piece, and so the
                // document, still goes back to its maker to be freed.
                auto& made = piece.value[j];
                if (!made.entry)
                    made.entry = or_empty(read_textgrid(std::move(*made.left), strict, type));
                observe(begin + j, std::move(*made.entry));
            }
            freed.give_back(std::move(piece));
        },
        processors, BATCH_PIECES_PER_PROCESSOR);
}

}  // namespace textgrid
