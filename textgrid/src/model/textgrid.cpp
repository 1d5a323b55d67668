#include "model/textgrid.hpp"

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
bool item_sound(bool is_interval, const Item& item) {
    if (is_interval) return time_bounds_fault(item.tmin, item.tmax) == BoundsFault::None;
    return !(std::fabs(item.tmin - item.tmax) > TIME_EPSILON);
}

bool in_order(double tmax, double next_tmin) { return !(tmax - next_tmin > TIME_EPSILON); }

}  // namespace

void TierCheck::add(bool is_interval, std::span<const Item> items) {
    if (fault_ != Fault::None) {
        count_ += items.size();
        return;
    }
    if (count_ == 0 && !items.empty()) first_tmin_ = items.front().tmin;
    for (const Item& item : items) {
        // A whole-tier pass checks item i - 1, then its order before item i, then
        // item i: the pair's order is due before item i's own check.
        if (count_ > 0 && !in_order(previous_tmax_, item.tmin)) {
            fault_ = Fault::Order;
            fault_index_ = count_ - 1;
        } else if (!item_sound(is_interval, item)) {
            fault_ = Fault::Item;
            fault_index_ = count_;
            fault_tmin_ = item.tmin;
            fault_tmax_ = item.tmax;
        }
        previous_tmax_ = item.tmax;
        ++count_;
        if (fault_ != Fault::None) {
            count_ += static_cast<std::uint64_t>(&items.back() - &item);
            return;
        }
    }
}

void TierCheck::join(const TierCheck& later) {
    if (later.count_ == 0) return;
    if (count_ == 0) {
        *this = later;
        return;
    }
    if (fault_ == Fault::None) {
        if (!in_order(previous_tmax_, later.first_tmin_)) {
            fault_ = Fault::Order;
            fault_index_ = count_ - 1;
        } else if (later.fault_ != Fault::None) {
            fault_ = later.fault_;
            fault_index_ = count_ + later.fault_index_;
            fault_tmin_ = later.fault_tmin_;
            fault_tmax_ = later.fault_tmax_;
        }
    }
    count_ += later.count_;
    previous_tmax_ = later.previous_tmax_;
}

Status TierCheck::result(const Tier& tier) const {
    if (tier.size != count_) return errors::tier_size_mismatch();
    if (auto bounds = check_time_bounds(tier.tmin, tier.tmax, "tier " + tier.name); !bounds)
        return bounds;
    switch (fault_) {
        case Fault::None:
            return Ok{};
        case Fault::Order:
            return errors::items_overlap(fault_index_, tier.name);
        case Fault::Item:
            break;
    }
    if (!tier.is_interval) return errors::point_not_instant(fault_index_, tier.name);
    // The context is only spelled out for a failing item: tiers can be huge.
    return check_time_bounds(fault_tmin_, fault_tmax_,
                             "item " + std::to_string(fault_index_) + " in tier " + tier.name);
}

Status Tier::validate() const {
    TierCheck check;
    check.add(is_interval, items);
    return check.result(*this);
}

Status TextGrid::validate_header() const {
    if (size != tiers.size()) return errors::textgrid_size_mismatch();
    return check_time_bounds(tmin, tmax, "TextGrid");
}

Status TextGrid::validate() const {
    if (auto status = validate_header(); !status) return status;
    for (const Tier& tier : tiers) {
        if (auto status = tier.validate(); !status) return status;
    }
    return Ok{};
}

void hand_over_rows(Tier& tier, const RowObserver& observe) {
    observe(tier, true, tier.items);
    Items().swap(tier.items);
}

void hand_over_rows(TextGrid& grid, const RowObserver& observe) {
    for (Tier& tier : grid.tiers) hand_over_rows(tier, observe);
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
