#include "parser_long.hpp"

#include <string>

#include "text.hpp"

namespace textgrid {

namespace {

enum class State { Header, TierList, InTier, InItem };

enum class Header { None, TierList, Tier, Item };

// ELAN writes the headers without the blank before the bracket; Praat takes both.
Header header_of(std::string_view line) {
    if (line.starts_with("item")) {
        line.remove_prefix(4);
        if (line.starts_with(' ')) line.remove_prefix(1);
        if (line.starts_with("[]")) return Header::TierList;
        return line.starts_with('[') ? Header::Tier : Header::None;
    }
    if (line.starts_with("intervals")) {
        line.remove_prefix(9);
    } else if (line.starts_with("points")) {
        line.remove_prefix(6);
    } else {
        return Header::None;
    }
    if (line.starts_with(' ')) line.remove_prefix(1);
    return line.starts_with('[') ? Header::Item : Header::None;
}

void read_document_key(TextGrid& grid, std::string_view key, std::string_view value) {
    if (key == "xmin") {
        grid.tmin = parse_f64_or_zero(value);
    } else if (key == "xmax") {
        grid.tmax = parse_f64_or_zero(value);
    } else if (key == "size") {
        grid.size = parse_count_or_zero(value);
    }
}

Status read_tier_key(Tier& tier, std::string_view key, std::string_view value) {
    if (key == "name") {
        tier.name = decode_praat_string(value);
    } else if (key == "xmin") {
        tier.tmin = parse_f64_or_zero(value);
    } else if (key == "xmax") {
        tier.tmax = parse_f64_or_zero(value);
    } else if (key == "class") {
        const std::string kind = decode_praat_string(value);
        if (kind == "IntervalTier") {
            tier.is_interval = true;
        } else if (kind == "TextTier") {
            tier.is_interval = false;
        } else {
            return TextGridError::invalid_data("Unknown tier class: " + std::string(value));
        }
    } else if (key == "intervals: size" || key == "points: size") {
        tier.size = parse_count_or_zero(value);
    }
    return Ok{};
}

void read_item_key(Item& item, std::string_view key, std::string_view value) {
    if (key == "xmin") {
        item.tmin = parse_f64_or_zero(value);
    } else if (key == "xmax") {
        item.tmax = parse_f64_or_zero(value);
    } else if (key == "text" || key == "mark") {
        item.label = decode_praat_string(value);
    } else if (key == "number") {
        item.tmin = item.tmax = parse_f64_or_zero(value);
    }
}

}  // namespace

Result<TextGrid> parse_long_text(std::string_view text, bool strict) {
    TextGrid grid;
    State state = State::Header;
    LineCursor cursor(text);
    Line line;
    while (cursor.next(line)) {
        switch (header_of(line.text)) {
            case Header::TierList:
                state = State::TierList;
                continue;
            case Header::Tier:
                grid.add_tier(Tier{});
                state = State::InTier;
                continue;
            case Header::Item:
                if (grid.tiers.empty()) {
                    return TextGridError::invalid_data("Item before any tier at line " +
                                                       std::to_string(line.number));
                }
                grid.tiers.back().add_item(Item{});
                state = State::InItem;
                continue;
            case Header::None:
                break;
        }
        if (state == State::TierList) continue;
        const auto key_value = split_key_value(line.text);
        if (!key_value) continue;
        const auto [key, value] = *key_value;
        if (state == State::InItem) {
            read_item_key(grid.tiers.back().items.back(), key, value);
        } else if (state == State::InTier) {
            if (auto status = read_tier_key(grid.tiers.back(), key, value); !status) {
                return std::move(status).error();
            }
        } else {
            read_document_key(grid, key, value);
        }
    }
    if (strict) {
        if (auto status = grid.validate(); !status) return std::move(status).error();
    }
    return grid;
}

Result<TextGrid> parse_long(std::string_view path, bool strict) {
    auto text = load_text_buffer(path);
    if (!text) return std::move(text).error();
    return parse_long_text(text.value().view(), strict);
}

}  // namespace textgrid
