#pragma once
// The document model: a TextGrid owns its tiers, a tier owns its items. Nothing
// here sorts, clamps or repairs; validation only reports the first fault.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/error.hpp"
#include "runtime/large_memory.hpp"

namespace textgrid {

inline constexpr double TIME_EPSILON = 1e-6;

struct Item {
    double tmin = 0.0;
    double tmax = 0.0;  // equals tmin for a point
    std::string label;
};

using Items = std::vector<Item, LargeAllocator<Item>>;

struct Tier {
    std::string name;
    Items items;
    std::uint64_t size = 0;  // declared item count; only validation reads it
    double tmin = 0.0;
    double tmax = 0.0;
    bool is_interval = true;

    Status validate() const;
};

// Validation of one tier whose items come a run at a time, as a reader hands
// them on; Tier::validate is the one-run case. Faults are found in the order a
// whole-tier check finds them, so both report the same first one.
class TierCheck {
public:
    void add(bool is_interval, std::span<const Item> items);
    // Takes on the check of the runs that follow this one's, made on its own
    // (say, on another thread).
    void join(const TierCheck& later);
    // The tier's size, its bounds, then the first item fault, in that order.
    Status result(const Tier& tier) const;

private:
    enum class Fault { None, Item, Order };
    std::uint64_t count_ = 0;
    double first_tmin_ = 0.0;
    double previous_tmax_ = 0.0;
    Fault fault_ = Fault::None;
    std::size_t fault_index_ = 0;
    double fault_tmin_ = 0.0;
    double fault_tmax_ = 0.0;
};

struct TextGrid {
    std::vector<Tier> tiers;
    double tmin = 0.0;
    double tmax = 0.0;
    std::uint64_t size = 0;  // declared tier count; only validation reads it

    void add_tier(Tier tier) { tiers.push_back(std::move(tier)); }
    Status validate() const;
    // The declared tier count and the bounds, checked before any tier.
    Status validate_header() const;

    // Fills in missing bounds from the tiers that hold items and always
    // validates. A tier without items takes the document's bounds.
    static Result<TextGrid> from_tiers(std::vector<Tier> tiers, std::optional<double> tmin,
                                       std::optional<double> tmax);
};

Status check_time_bounds(double tmin, double tmax, std::string_view context);

// Told the items of a document being read, a run at a time, in row order
// (tier by tier, item by item), each run with the tier it belongs to; `begins`
// marks a tier's first run, told for every tier, with or without items.
// Readers call it before they have finished, so the caller can work on the
// rows meanwhile, and hand the rows over instead of keeping them: the document
// read then holds its tiers without items. The calls are void if reading
// fails.
using RowObserver = std::function<void(const Tier& tier, bool begins, std::span<const Item> items)>;

// Told, before any row is handed over, how many bytes the file being read
// holds (a regular file's size, or nothing for others): room for the rows can
// then be made once instead of grown step by step.
using SizeObserver = std::function<void(std::uint64_t bytes)>;

// Hands every item of a finished tier, or of a finished document tier by
// tier, to `observe`, each tier's items freed once told.
void hand_over_rows(Tier& tier, const RowObserver& observe);
void hand_over_rows(TextGrid& grid, const RowObserver& observe);

// Bounds fitted to tiers or items: the lowest and highest of one time field,
// NaN skipped. With no number at all they stay at the largest finite double
// (lowest) and the most negative one (highest).
template <auto Field, class Range>
double lowest_time(Range&& range) {
    double lowest = std::numeric_limits<double>::max();
    for (const auto& each : range)
        if (!std::isnan(each.*Field)) lowest = std::min(lowest, each.*Field);
    return lowest;
}

template <auto Field, class Range>
double highest_time(Range&& range) {
    double highest = std::numeric_limits<double>::lowest();
    for (const auto& each : range)
        if (!std::isnan(each.*Field)) highest = std::max(highest, each.*Field);
    return highest;
}

}  // namespace textgrid
