#include "textgrid.hpp"

#include <algorithm>
#include <cmath>
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

Status check_item(const Tier& tier, std::size_t index) {
    const Item& item = tier.items[index];
    if (tier.is_interval) {
        // The context is only spelled out for a failing item: tiers can be huge.
        if (!time_bounds_fault(item.tmin, item.tmax)) return Ok{};
        return check_time_bounds(item.tmin, item.tmax,
                                 "item " + std::to_string(index) + " in tier " + tier.name);
    }
    if (std::fabs(item.tmin - item.tmax) > TIME_EPSILON) {
        return TextGridError::invalid_data("Item " + std::to_string(index) +
                                           " should have tmin == tmax in PointTier " + tier.name);
    }
    return Ok{};
}

Status check_order(const Tier& tier, std::size_t index) {
    if (index + 1 >= tier.items.size()) return Ok{};
    if (tier.items[index].tmax - tier.items[index + 1].tmin > TIME_EPSILON) {
        return TextGridError::invalid_data("Items " + std::to_string(index) + " and " +
                                           std::to_string(index + 1) + " overlap in tier " +
                                           tier.name);
    }
    return Ok{};
}

// The checks of check_item and check_order as one plain pass: tiers are large
// and nearly always sound, so the messages are only made once this fails.
bool items_sound(const Tier& tier) {
    const std::vector<Item>& items = tier.items;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        const bool sound = tier.is_interval ? time_bounds_fault(item.tmin, item.tmax) == nullptr
                                            : !(std::fabs(item.tmin - item.tmax) > TIME_EPSILON);
        if (!sound) return false;
        if (i + 1 < items.size() && item.tmax - items[i + 1].tmin > TIME_EPSILON) return false;
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
    // No tiers leave the bounds at zero.
    if (tmin) {
        grid.tmin = *tmin;
    } else if (!tiers.empty()) {
        grid.tmin = lowest_time<&Tier::tmin>(tiers);
    }
    if (tmax) {
        grid.tmax = *tmax;
    } else if (!tiers.empty()) {
        grid.tmax = highest_time<&Tier::tmax>(tiers);
    }
    grid.size = tiers.size();
    grid.tiers = std::move(tiers);
    if (auto status = grid.validate(); !status) return std::move(status).error();
    return grid;
}

}  // namespace textgrid
