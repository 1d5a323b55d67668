#include "textgrid.hpp"

#include <algorithm>
#include <cmath>
#include <ranges>
#include <string>

namespace textgrid {

namespace {

enum class BoundsFault { None, Negative, NotIncreasing };

// Written as plain comparisons on purpose: a NaN fails neither test.
BoundsFault time_bounds_fault(double tmin, double tmax) {
    if (tmin < 0 || tmax <= 0) return BoundsFault::Negative;
    if (tmax - tmin <= TIME_EPSILON) return BoundsFault::NotIncreasing;
    return BoundsFault::None;
}

}  // namespace

Status check_time_bounds(double tmin, double tmax, std::string_view context) {
    switch (time_bounds_fault(tmin, tmax)) {
        case BoundsFault::None:
            return Ok{};
        case BoundsFault::Negative:
            return errors::negative_time_bounds(context);
        case BoundsFault::NotIncreasing:
            return errors::tmin_not_below_tmax(context);
    }
    return Ok{};
}

namespace {

// The item checks as plain tests; the messages are made only for a failure.
bool item_sound(const Tier& tier, const Item& item) {
    if (tier.is_interval) return time_bounds_fault(item.tmin, item.tmax) == BoundsFault::None;
    return !(std::fabs(item.tmin - item.tmax) > TIME_EPSILON);
}

bool in_order(const Item& item, const Item& next) {
    return !(item.tmax - next.tmin > TIME_EPSILON);
}

Status check_item(const Tier& tier, std::size_t index) {
    const Item& item = tier.items[index];
    if (item_sound(tier, item)) return Ok{};
    if (tier.is_interval) {
        // The context is only spelled out for a failing item: tiers can be huge.
        return check_time_bounds(item.tmin, item.tmax,
                                 "item " + std::to_string(index) + " in tier " + tier.name);
    }
    return errors::point_not_instant(index, tier.name);
}

Status check_order(const Tier& tier, std::size_t index) {
    if (index + 1 >= tier.items.size() || in_order(tier.items[index], tier.items[index + 1])) {
        return Ok{};
    }
    return errors::items_overlap(index, tier.name);
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
        return errors::tier_size_mismatch();
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
        return errors::textgrid_size_mismatch();
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
    auto with_items =
        tiers | std::views::filter([](const Tier& tier) { return !tier.items.empty(); });
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
