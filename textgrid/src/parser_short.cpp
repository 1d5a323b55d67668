#include "parser_short.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "numbers.hpp"
#include "text.hpp"

namespace textgrid {

namespace {

// Hands out logical lines by position. Positions are asked for in increasing
// order only, so no line table is kept; the first missing line ends the parse.
class Reader {
public:
    explicit Reader(std::string_view text)
        : cursor_(text), ends_with_line_feed_(text.empty() || text.back() == '\n') {}

    std::optional<TextGridError> error;

    // Whether the text has a line at `position`; makes it the current line.
    bool has(std::size_t position) {
        while (yielded_ <= position) {
            if (!cursor_.next(current_)) return false;
            ++yielded_;
        }
        return true;
    }
    std::string_view line(std::size_t position) {
        if (!error && !has(position)) {
            error = errors::unexpected_end_of_file(missing_line_number(position));
        }
        return error ? std::string_view{} : current_.text;
    }
    std::string_view next() { return line(position_++); }

    // The next line as a time or a label, if it has the usual shape; false
    // (nothing taken) for the general way.
    bool next_number_quickly(double& value) {
        return take_quickly(
            [&](const char* p, const char* end) { return quick::number_line(p, end, value); });
    }
    bool next_label_quickly(std::string& label) {
        return take_quickly([&](const char* p, const char* end) {
            return *p == '"' ? quick::quoted_line(p, end, label) : nullptr;
        });
    }
    // Items whose lines all have the usual shape, up to `count` of them,
    // appended straight from the text: how many. The rest go the ways above.
    std::uint64_t next_items_quickly(Items& items, std::uint64_t count, bool is_interval) {
        const std::string_view rest = cursor_.rest();
        if (error || yielded_ != position_) return 0;
        const char* const end = rest.data() + rest.size();
        const char* p = rest.data();
        std::uint64_t taken = 0;
        for (; taken < count; ++taken) {
            double tmin, tmax;
            const char* next = quick::number_line(p, end, tmin);
            if (!next) break;
            if (is_interval) {
                next = quick::number_line(next, end, tmax);
                if (!next) break;
            } else {
                tmax = tmin;
            }
            if (next == end || *next != '"') break;
            Item& item = items.emplace_back();
            next = quick::quoted_line(next, end, item.label);
            if (!next) {
                items.pop_back();
                break;
            }
            item.tmin = tmin;
            item.tmax = tmax;
            p = next;
        }
        const std::size_t lines = taken * (is_interval ? 3 : 2);
        cursor_.skip_lines(p, lines);
        yielded_ += lines;
        position_ += lines;
        return taken;
    }
    void skip_to(std::size_t position) { position_ = position; }

private:
    // Only where no line was looked ahead at, so positions stay in step.
    template <typename Read>
    bool take_quickly(Read read) {
        const std::string_view rest = cursor_.rest();
        if (error || yielded_ != position_ || rest.empty()) return false;
        const char* const next = read(rest.data(), rest.data() + rest.size());
        if (!next) return false;
        cursor_.skip_line(next);
        ++yielded_;
        ++position_;
        return true;
    }

    // The file's own number of the line wanted at `position`, past the end:
    // a label over several lines makes positions and line numbers part.
    std::size_t missing_line_number(std::size_t position) const {
        const std::size_t next_number = cursor_.next_number();
        const std::size_t first_missing = ends_with_line_feed_ ? next_number : next_number + 1;
        return first_missing + (position - yielded_);
    }

    LineCursor cursor_;
    bool ends_with_line_feed_;
    std::size_t yielded_ = 0;  // lines taken from the cursor so far
    std::size_t position_ = 0;
    Line current_;  // filled in place: copying it out of the cursor stalls on the store
};

// The shortest item a text can hold: a point's two lines, each a line feed.
constexpr std::size_t MIN_ITEM_BYTES = 2;

Status read_items(Reader& reader, Tier& tier, std::uint64_t count, ReservationBudget& budget) {
    tier.items.reserve(budget.take(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        i += reader.next_items_quickly(tier.items, count - i, tier.is_interval);
        if (i == count) break;
        // Built in place: the document is dropped whole if the text runs out.
        Item& item = tier.items.emplace_back();
        if (!reader.next_number_quickly(item.tmin)) item.tmin = parse_f64_or_zero(reader.next());
        if (!tier.is_interval) {
            item.tmax = item.tmin;
        } else if (!reader.next_number_quickly(item.tmax)) {
            item.tmax = parse_f64_or_zero(reader.next());
        }
        if (reader.next_label_quickly(item.label)) continue;
        const std::string_view label = reader.next();
        if (reader.error) return *reader.error;
        decode_praat_string(label, item.label);
    }
    return Ok{};
}

Status read_tier(Reader& reader, TextGrid& grid, ReservationBudget& budget) {
    const std::string_view kind_line = reader.next();
    if (reader.error) return *reader.error;
    auto is_interval = read_tier_class(kind_line);
    if (!is_interval) return std::move(is_interval).error();
    Tier tier;
    tier.is_interval = is_interval.value();
    const std::string_view name = reader.next();
    tier.tmin = parse_f64_or_zero(reader.next());
    tier.tmax = parse_f64_or_zero(reader.next());
    tier.size = parse_count_or_zero(reader.next());
    if (reader.error) return *reader.error;
    decode_praat_string(name, tier.name);
    if (auto status = read_items(reader, tier, tier.size, budget); !status) return status;
    grid.add_tier(std::move(tier));
    return Ok{};
}

// Lines before the document's start time: the two header lines and a blank
// one, which some writers leave out. Then the third line is a number, the
// start time itself.
std::size_t header_lines(Reader& reader) {
    return reader.has(2) && parse_f64(reader.line(2)) ? 2 : 3;
}

}  // namespace

Result<TextGrid> parse_short_text(std::string_view text, bool strict) {
    Reader reader(text);
    TextGrid grid;
    const std::size_t start = header_lines(reader);
    grid.tmin = parse_f64_or_zero(reader.line(start));
    grid.tmax = parse_f64_or_zero(reader.line(start + 1));
    grid.size = parse_count_or_zero(reader.line(start + 3));
    if (reader.error) return *reader.error;
    reader.skip_to(start + 4);
    ReservationBudget budget((text.size() + 1) / MIN_ITEM_BYTES);
    for (std::uint64_t i = 0; i < grid.size; ++i) {
        if (auto status = read_tier(reader, grid, budget); !status)
            return std::move(status).error();
    }
    if (strict) {
        if (auto status = grid.validate(); !status) return std::move(status).error();
    }
    return grid;
}

}  // namespace textgrid
