#include "textgrid.hpp"

#include <algorithm>
#include <cmath>
#include <ranges>
#include <string>

namespace textgrid {

namespace {

// Written as plain comparisons on purpose: a NaN fails neither test.
const char* time_bounds_fault(double tmin, double tmax) {
    if (tmin < 0 || tmax <= 0) return "Time bounds should be non-negative in ";
    if (tmax - tmin <= TIME_EPSILON) return "tmin should be less than tmax in ";
    return nullptr;
}

}  // namespace

Status check_time_bounds(double tmin, double tmax, std::string_view context) {
    if (const char* fault = time_bounds_fault(tmin, tmax)) {
        return TextGridError::invalid_data(fault + std::string(context));
    }
    return Ok{};
}

namespace {

// The item checks as plain tests; the messages are made only for a failure.
bool item_sound(const Tier& tier, const Item& item) {
    if (tier.is_interval) return time_bounds_fault(item.tmin, item.tmax) == nullptr;
    return !(std::fabs(item.tmin - item.tmax) > TIME_EPSILON);
}

bool in_order(const Item& item, const Item& next) { return !(item.tmax - next.tmin > TIME_EPSILON); }

Status check_item(const Tier& tier, std::size_t index) {
    const Item& item = tier.items[index];
    if (item_sound(tier, item)) return Ok{};
    if (tier.is_interval) {
        // The context is only spelled out for a failing item: tiers can be huge.
        return check_time_bounds(item.tmin, item.tmax,
                                 "item " + std::to_string(index) + " in tier " + tier.name);
    }
    return TextGridError::invalid_data("Item " + std::to_string(index) +
                                       " should have tmin == tmax in PointTier " + tier.name);
}

Status check_order(const Tier& tier, std::size_t index) {
    if (index + 1 >= tier.items.size() || in_order(tier.items[index], tier.items[index + 1])) {
        return Ok{};
    }
    return TextGridError::invalid_data("Items " + std::to_string(index) + " and " +
                                       std::to_string(index + 1) + " overlap in tier " + tier.name);
}

// Both checks over a whole tier in one plain pass: tiers are large and nearly
// always sound.
bool items_sound(const Tier& tier) {
    const std::vector<Item>& items = tier.items;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!item_sound(tier, items[i])) return false;
        if (i + 1 < items.size() && !in_order(items[i], items[i + 1])) return false;
    }
    return true;
}

}  // namespace

Status Tier::validate() const {
    if (size != items.size()) {
        return TextGridError::invalid_data("Tier size does not match number of items");
    }
    if (auto bounds = check_time_bounds(tmin, tmax, "tier " + name); !bounds) return bounds;
    if (items_sound(*this)) return Ok{};
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (auto item = check_item(*this, i); !item) return item;
        if (auto order = check_order(*this, i); !order) return order;
    }
    return Ok{};
}

Status TextGrid::validate() const {
    if (size != tiers.size()) {
        return TextGridError::invalid_data("TextGrid size does not match number of tiers");
    }
    if (auto bounds = check_time_bounds(tmin, tmax, "TextGrid"); !bounds) return bounds;
    for (const Tier& tier : tiers) {
        if (auto status = tier.validate(); !status) return status;
    }
    return Ok{};
}

void observe_rows(const TextGrid& grid, const RowObserver& observe) {
    for (const Tier& tier : grid.tiers) observe(tier, tier.items);
}

Result<TextGrid> TextGrid::from_tiers(std::vector<Tier> tiers, std::optional<double> tmin,
                                      std::optional<double> tmax) {
    TextGrid grid;
    // An empty tier has no times to fit; with no times at all the bounds stay at zero.
    auto with_items = tiers | std::views::filter([](const Tier& tier) { return !tier.items.empty(); });
    const bool any_items = !std::ranges::empty(with_items);
    if (tmin) {
        grid.tmin = *tmin;
    } else if (any_items) {
        grid.tmin = lowest_time<&Tier::tmin>(with_items);
    }
    if (tmax) {
        grid.tmax = *tmax;
    } else if (any_items) {
        grid.tmax = highest_time<&Tier::tmax>(with_items);
    }
    for (Tier& tier : tiers) {
        if (!tier.items.empty()) continue;
        tier.tmin = grid.tmin;
        tier.tmax = grid.tmax;
    }
    grid.size = tiers.size();
    grid.tiers = std::move(tiers);
    if (auto status = grid.validate(); !status) return std::move(status).error();
    return grid;
}

}  // namespace textgrid
