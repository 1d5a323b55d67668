#include <iterator>
#include <utility>

#include "read/long_stretches.hpp"

namespace textgrid::long_stretches {

namespace {

void append_items(Items& to, Items& from) {
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

}  // namespace

void StretchJoin::take(Partial& part) {
    if (error_) return;
    if (first_) {
        grid_.tmin = part.grid.tmin;
        grid_.tmax = part.grid.tmax;
        grid_.size = part.grid.size;
        first_ = false;
    }
    if (!part.leading_items.empty()) {
        if (grid_.tiers.empty()) {
            error_ = errors::item_before_tier(part.leading_item_line);
            return;
        }
        if (strict_) {
            const bool is_interval = grid_.tiers.back().is_interval;
            if (is_interval == part.leading_points) {
                part.leading_check = TierCheck();
                part.leading_check.add(is_interval, part.leading_items);
            }
            checks_.back().join(part.leading_check);
        }
        add_rows(false, part.leading_items);
    }
    if (part.error) {
        error_ = std::move(part.error);
        return;
    }
    for (std::size_t k = 0; k < part.grid.tiers.size(); ++k) {
        Items items = std::move(part.grid.tiers[k].items);
        grid_.tiers.push_back(std::move(part.grid.tiers[k]));
        if (strict_) checks_.push_back(part.tier_checks[k]);
        add_rows(true, items);
    }
}

Result<TextGrid> StretchJoin::finish() && {
    if (error_) return std::move(*error_);
    if (strict_) {
        if (auto status = grid_.validate_header(); !status) return std::move(status).error();
        for (std::size_t k = 0; k < checks_.size(); ++k) {
            if (auto status = checks_[k].result(grid_.tiers[k]); !status)
                return std::move(status).error();
        }
    }
    return std::move(grid_);
}

void StretchJoin::add_rows(bool begins, Items& items) {
    Tier& tier = grid_.tiers.back();
    if (observe_) {
        observe_(tier, begins, items);
        Items().swap(items);
    } else if (begins) {
        // Room for the rows later stretches add was reserved where the
        // tier began, as far as that stretch's size allowed.
        tier.items = std::move(items);
    } else {
        append_items(tier.items, items);
    }
}

}  // namespace textgrid::long_stretches
