#include "read/parser_long.hpp"

#include "read/parser_long_stretches.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "read/loading.hpp"
#include "runtime/parallel.hpp"
#include "text/numbers.hpp"
#include "text/text.hpp"

namespace textgrid {

using namespace long_stretches;

namespace {

enum class State { Header, TierList, InTier, InItem };

enum class Header { None, TierList, Tier, IntervalItem, PointItem };

// ELAN writes the headers without the blank before the bracket; Praat takes both.
Header header_of(std::string_view line) {
    // Most lines are keys: one byte tells them apart.
    if (line.empty() || (line.front() != 'i' && line.front() != 'p')) return Header::None;
    if (line.starts_with("item")) {
        line.remove_prefix(4);
        if (line.starts_with(' ')) line.remove_prefix(1);
        if (line.starts_with("[]")) return Header::TierList;
        return line.starts_with('[') ? Header::Tier : Header::None;
    }
    Header item;
    if (line.starts_with("intervals")) {
        line.remove_prefix(9);
        item = Header::IntervalItem;
    } else if (line.starts_with("points")) {
        line.remove_prefix(6);
        item = Header::PointItem;
    } else {
        return Header::None;
    }
    if (line.starts_with(' ')) line.remove_prefix(1);
    return line.starts_with('[') ? item : Header::None;
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

// The shortest item a text can hold: "points[" and a line feed.
constexpr std::size_t MIN_ITEM_BYTES = 8;
// An interval as Praat indents it, with short times and label, is over twice
// this: room for a stretch's items at this size rarely needs to grow.
constexpr std::size_t TYPICAL_ITEM_BYTES = 48;

Status read_tier_key(Tier& tier, std::string_view key, std::string_view value,
                     ReservationBudget& budget) {
    if (key == "name") {
        decode_praat_string(value, tier.name);
    } else if (key == "xmin") {
        tier.tmin = parse_f64_or_zero(value);
    } else if (key == "xmax") {
        tier.tmax = parse_f64_or_zero(value);
    } else if (key == "class") {
        auto is_interval = read_tier_class(value);
        if (!is_interval) return std::move(is_interval).error();
        tier.is_interval = is_interval.value();
    } else if (key == "intervals: size" || key == "points: size") {
        tier.size = parse_count_or_zero(value);
        tier.items.reserve(budget.take(tier.size));
    }
    return Ok{};
}

// A widely used writer names a point's time "time"; Praat reads by position.
void read_item_key(Item& item, bool is_point, std::string_view key, std::string_view value) {
    if (key == "xmin") {
        item.tmin = parse_f64_or_zero(value);
    } else if (key == "xmax") {
        item.tmax = parse_f64_or_zero(value);
    } else if (key == "text" || key == "mark") {
        decode_praat_string(value, item.label);
    } else if (key == "number" || (is_point && key == "time")) {
        item.tmin = item.tmax = parse_f64_or_zero(value);
    }
}

// The lines of nearly every item, as Praat writes them ("xmin = 0.5"):
// read without looking for headers or splitting. Any other shape, such as a
// second blank after '=', is false and goes the general way.
bool read_item_line_quickly(Item& item, std::string_view line) {
    constexpr std::size_t PREFIX = 7;  // "xmin = "
    if (line.size() <= PREFIX || line[PREFIX] == ' ' || maybe_other_space(line[PREFIX])) {
        return false;
    }
    const std::string_view value = line.substr(PREFIX);
    if (line.starts_with("xmin = ")) {
        item.tmin = parse_f64_or_zero(value);
    } else if (line.starts_with("xmax = ")) {
        item.tmax = parse_f64_or_zero(value);
    } else if (line.starts_with("text = ") || line.starts_with("mark = ")) {
        decode_praat_string(value, item.label);
    } else {
        return false;
    }
    return true;
}

// The first eight bytes at `p` (which must have them), to compare with a word.
std::uint64_t first_eight(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

// A seven-byte key as it lies in memory, and the mask of its seven bytes.
constexpr std::uint64_t key_word(const char (&key)[8]) {
    return std::bit_cast<std::uint64_t>(
        std::array<char, 8>{key[0], key[1], key[2], key[3], key[4], key[5], key[6], 0});
}
constexpr std::uint64_t KEY_MASK = key_word("\xFF\xFF\xFF\xFF\xFF\xFF\xFF");
constexpr std::uint64_t NUMBER_KEY =
    std::bit_cast<std::uint64_t>(std::array<char, 8>{'n', 'u', 'm', 'b', 'e', 'r', ' ', '='});

// The same lines read straight from the text (`p` past the indentation), when
// the whole physical line is of that shape ("xmin = 0.5 ", "text = \"a\" ",
// and a point's "number = 0.5"):
// no line search, no second look at the value. The byte past the line, or
// nullptr for the way above.
const char* read_item_line_directly(Item& item, const char* p, const char* end) {
    constexpr std::size_t PREFIX = 7;  // "xmin = "
    if (end - p <= static_cast<std::ptrdiff_t>(PREFIX)) return nullptr;
    const std::uint64_t word = first_eight(p);
    const std::uint64_t key = word & KEY_MASK;
    if (key == key_word("xmin = ")) return quick::number_line(p + PREFIX, end, item.tmin);
    if (key == key_word("xmax = ")) return quick::number_line(p + PREFIX, end, item.tmax);
    if ((key == key_word("text = ") || key == key_word("mark = ")) && p[PREFIX] == '"')
        return quick::quoted_line(p + PREFIX, end, item.label);
    // A point's time: "number = 0.5".
    if (word == NUMBER_KEY && end - p > 9 && p[8] == ' ') {
        double time;
        const char* const next = quick::number_line(p + 9, end, time);
        if (next) item.tmin = item.tmax = time;
        return next;
    }
    return nullptr;
}

// An item header as Praat writes it ("intervals [3]:"), read straight from the
// text (`p` past the indentation) when no quote lengthens the line: the byte
// past the line, with `kind` set, or nullptr for the general way.
const char* item_header_directly(const char* p, const char* end, Header& kind) {
    constexpr std::string_view INTERVALS = "intervals [", POINTS = "points [";
    const std::string_view rest(p, static_cast<std::size_t>(end - p));
    if (rest.starts_with(INTERVALS)) {
        kind = Header::IntervalItem;
        p += INTERVALS.size();
    } else if (rest.starts_with(POINTS)) {
        kind = Header::PointItem;
        p += POINTS.size();
    } else {
        return nullptr;
    }
    const char* const stop = scan::find_line_stop(p, end);
    return stop < end && *stop == '\n' ? stop + 1 : nullptr;
}

// Where a run of lines read directly starts and ends.
struct DirectRun {
    const char* next;  // the first line not yet read
    const char* end;   // of the text
    bool in_item;      // an item is under way (its header was read)
    std::size_t lines = 0;
};

// A direct run yields after this many lines, so the rows it read can be
// checked while they are still in the cache.
constexpr std::size_t DIRECT_RUN_LINES = 8192;

// Item headers and item lines in their usual shapes, one after the other,
// straight from the text, up to the first line of any other shape. Each line's
// end is found on its own, not from its value's: the next line is then known
// while this one is still being read.
void read_items_directly(Items& items, bool& in_point, DirectRun& run) {
    while (run.lines < DIRECT_RUN_LINES) {
        const char* const line_feed = scan::find_line_feed(run.next, run.end);
        if (line_feed == run.end) return;
        const char* const past_line = line_feed + 1;
        const char* const start = scan::skip_blanks(run.next, run.end);
        // A line read directly ends at its first line feed; the checks only
        // guard that, and the general way reads anything else again.
        if (!run.in_item || read_item_line_directly(items.back(), start, run.end) != past_line) {
            Header kind;
            if (item_header_directly(start, run.end, kind) != past_line) return;
            items.emplace_back();
            in_point = kind == Header::PointItem;
            run.in_item = true;
        }
        run.next = past_line;
        ++run.lines;
    }
}

// With `strict`, a stretch's rows are checked as they are read, a few thousand
// at a time while they are still in the core's cache, instead of being walked
// again from memory once the whole stretch is read.
class RowChecks {
public:
    RowChecks(Partial& part, bool enabled) : part_(part), enabled_(enabled) {}

    // Rows now go to the leading items, or to the tier begun last.
    void follow_leading() { follow(LEADING); }
    void follow_last_tier() {
        if (enabled_) part_.tier_checks.resize(part_.grid.tiers.size());
        follow(part_.grid.tiers.size() - 1);
    }
    // Once enough rows wait, checks all but the last, which may be under way.
    void keep_up() {
        if (enabled_ && following_ && rows().size() > checked_ + EVERY)
            check_up_to(rows().size() - 1);
    }
    // Checks every row not yet checked.
    void finish() {
        if (enabled_ && following_) check_up_to(rows().size());
    }

private:
    static constexpr std::size_t LEADING = static_cast<std::size_t>(-1);
    static constexpr std::size_t EVERY = 2048;  // about 100 KB of rows

    void follow(std::size_t tier) {
        finish();
        tier_ = tier;
        following_ = true;
        checked_ = 0;
    }
    const Items& rows() const {
        return tier_ == LEADING ? part_.leading_items : part_.grid.tiers[tier_].items;
    }
    void check_up_to(std::size_t end) {
        if (end <= checked_) return;
        const std::span<const Item> fresh(rows().data() + checked_, end - checked_);
        // A tier's kind is settled before its first row: its keys come first.
        if (tier_ == LEADING) {
            part_.leading_check.add(!part_.leading_points, fresh);
        } else {
            part_.tier_checks[tier_].add(part_.grid.tiers[tier_].is_interval, fresh);
        }
        checked_ = end;
    }

    Partial& part_;
    bool enabled_;
    bool following_ = false;
    std::size_t tier_ = LEADING;
    std::size_t checked_ = 0;
};

}  // namespace

namespace long_stretches {

Partial parse_stretch(std::string_view stretch, std::size_t first_line, bool at_text_start,
                      bool check) {
    Partial part;
    RowChecks checks(part, check);
    State state = at_text_start ? State::Header : State::TierList;
    Tier* tier = nullptr;
    Items* items = nullptr;  // where the next item goes
    bool in_point = false;   // the current item began with "points ["
    LineCursor cursor(stretch, first_line);
    // Stretches split the text, so their budgets together are the text's.
    ReservationBudget budget((stretch.size() + 1) / MIN_ITEM_BYTES);
    Line line;
    for (;;) {
        // Inside a tier's items, the usual lines are read straight from the text.
        if (items && (state == State::InItem || state == State::InTier)) {
            const std::string_view rest = cursor.rest();
            DirectRun run{rest.data(), rest.data() + rest.size(), state == State::InItem};
            read_items_directly(*items, in_point, run);
            if (run.lines != 0) {
                if (run.in_item) state = State::InItem;
                cursor.skip_lines(run.next, run.lines);
                checks.keep_up();
                continue;
            }
        }
        if (!cursor.next(line)) break;
        if (state == State::InItem && read_item_line_quickly(items->back(), line.text)) continue;
        const Header kind = header_of(line.text);
        switch (kind) {
            case Header::TierList:
                state = State::TierList;
                continue;
            case Header::Tier:
                tier = &part.grid.tiers.emplace_back();
                items = &tier->items;
                checks.follow_last_tier();
                state = State::InTier;
                continue;
            case Header::IntervalItem:
            case Header::PointItem:
                if (!items) {
                    if (at_text_start) {
                        part.error = errors::item_before_tier(line.number);
                        return part;
                    }
                    part.leading_item_line = line.number;
                    part.leading_points = kind == Header::PointItem;
                    items = &part.leading_items;
                    items->reserve(budget.take(stretch.size() / TYPICAL_ITEM_BYTES));
                    checks.follow_leading();
                }
                items->emplace_back();
                in_point = kind == Header::PointItem;
                state = State::InItem;
                continue;
            case Header::None:
                break;
        }
        if (state == State::TierList) continue;
        std::string_view key, value;
        if (!split_key_value(line.text, key, value)) continue;
        if (state == State::InItem) {
            read_item_key(items->back(), in_point, key, value);
        } else if (state == State::InTier) {
            if (auto status = read_tier_key(*tier, key, value, budget); !status) {
                part.error = std::move(status).error();
                return part;
            }
        } else {
            read_document_key(part.grid, key, value);
        }
    }
    checks.finish();
    return part;
}

}  // namespace long_stretches

namespace {

void append_items(Items& to, Items& from) {
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

// ---- reading in pieces ------------------------------------------------------

// Below this one pass is faster than cutting the text up.
constexpr std::size_t PIECEWISE_FROM_BYTES = 1u << 20;

struct Piece {
    std::size_t begin = 0;
    std::size_t end = 0;
    QuoteAndLineCount count;
};

}  // namespace

namespace long_stretches {

std::optional<Cut> find_cut(std::string_view text, std::size_t begin, std::size_t limit,
                            bool in_quotes, std::size_t line) {
    std::size_t position = begin;
    if (in_quotes || text[begin - 1] != '\n') {
        // Finish the logical line under way: it ends at a line feed outside quotes.
        for (;;) {
            if (position >= limit) return std::nullopt;
            const char c = text[position++];
            if (c == '"') {
                in_quotes = !in_quotes;
            } else if (c == '\n') {
                ++line;
                if (!in_quotes) break;
            }
        }
    }
    LineCursor cursor(text.substr(position), line);
    Line current;
    for (;;) {
        const std::string_view rest = cursor.rest();
        if (rest.empty()) return std::nullopt;
        const auto start = static_cast<std::size_t>(rest.data() - text.data());
        if (start >= limit) return std::nullopt;
        cursor.next(current);
        const Header kind = header_of(current.text);
        if (kind != Header::None && kind != Header::TierList) return Cut{start, current.number};
    }
}

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

}  // namespace long_stretches

namespace {

std::vector<Cut> find_cuts(std::string_view text, const std::vector<Piece>& pieces) {
    std::vector<Cut> cuts{Cut{0, 1}};
    QuoteAndLineCount before;
    for (const Piece& piece : pieces) {
        if (piece.begin > 0) {
            const bool in_quotes = before.quotes % 2 != 0;
            if (auto cut =
                    find_cut(text, piece.begin, piece.end, in_quotes, before.line_feeds + 1)) {
                cuts.push_back(*cut);
            }
        }
        before += piece.count;
    }
    return cuts;
}

// The pieces with their counts: taken from loading when it cut the text the
// same way, otherwise counted now, every piece at once.
std::vector<Piece> counted_pieces(std::string_view text, std::size_t processors,
                                  const std::vector<QuoteAndLineCount>& piece_counts) {
    const std::size_t n = text.size();
    const std::size_t pieces = detail::piece_count(n, processors);
    if (piece_counts.size() == pieces && !detail::stays_on_caller(n, processors)) {
        std::vector<Piece> known;
        known.reserve(pieces);
        for (std::size_t k = 0; k < pieces; ++k)
            known.push_back(Piece{detail::piece_begin(n, pieces, k),
                                  detail::piece_begin(n, pieces, k + 1), piece_counts[k]});
        return known;
    }
    return parallel_map_pieces(
        n,
        [&](std::size_t begin, std::size_t end) {
            return Piece{begin, end, count_quotes_and_line_feeds(text.substr(begin, end - begin))};
        },
        processors);
}

// Reads the text from the first cut inside the pool piece [begin, end) up to
// the first cut past the piece as one stretch (none if no cut is inside),
// checking its rows if `check`; with ReleaseText the text read goes back to the
// system (the stretch keeps copies of what it needs).
std::optional<Partial> parse_stretch_from(std::string_view text, const std::vector<Cut>& cuts,
                                          std::size_t begin, std::size_t end, bool check,
                                          AfterReading after) {
    const auto before = [](const Cut& c, std::size_t at) { return c.position < at; };
    const auto first = std::lower_bound(cuts.begin(), cuts.end(), begin, before);
    const auto next = std::lower_bound(first, cuts.end(), end, before);
    if (first == next) return std::nullopt;
    const std::size_t start = first->position;
    const std::size_t stop = next == cuts.end() ? text.size() : next->position;
    std::optional<Partial> part =
        parse_stretch(text.substr(start, stop - start), first->line, start == 0, check);
    if (after == AfterReading::ReleaseText)
        release_read_text(text.data() + start, text.data() + stop);
    return part;
}

// Rows that only the finished document holds are read in long stretches, two
// per processor: within one, each tier's rows go straight into one array, where
// joining short stretches moved nearly every row a second time. A stretch's
// leading rows are still copied where it is joined, so on a huge text
// stretches stay below LONG_STRETCH_BYTES (as far as the usual pieces allow),
// bounding the memory that copy needs. Rows handed to an observer as they come
// are read in short stretches, so it starts early and only a few wait at once.
constexpr std::size_t LONG_STRETCHES_PER_PROCESSOR = 2;
constexpr std::size_t LONG_STRETCH_BYTES = std::size_t{64} << 20;

std::size_t stretches_per_processor(std::size_t bytes, std::size_t processors, bool observed) {
    if (observed) return detail::PIECES_PER_PROCESSOR;
    const std::size_t needed =
        bytes / (std::max<std::size_t>(processors, 1) * LONG_STRETCH_BYTES) + 1;
    return std::clamp(needed, LONG_STRETCHES_PER_PROCESSOR, detail::PIECES_PER_PROCESSOR);
}

// Quote parity and line numbers come from counting every piece at once; each
// stretch then runs from a header cut to a later one, read and checked on its
// own, and is joined while later stretches are still read.
Result<TextGrid> read_in_pieces(std::string_view text, bool strict, std::size_t processors,
                                const std::vector<QuoteAndLineCount>& piece_counts,
                                const RowObserver& observe, AfterReading after) {
    const auto pieces = counted_pieces(text, processors, piece_counts);
    const std::vector<Cut> cuts = find_cuts(text, pieces);
    StretchJoin join(observe, strict);
    parallel_map_pieces_ordered(
        text.size(),
        [&](std::size_t begin, std::size_t end) {
            return parse_stretch_from(text, cuts, begin, end, strict, after);
        },
        [&](std::size_t, std::optional<Partial>&& part) {
            if (part) join.take(*part);
        },
        processors, stretches_per_processor(text.size(), processors, bool(observe)));
    return std::move(join).finish();
}

}  // namespace

Result<TextGrid> parse_long_text_one_pass(std::string_view text, bool strict) {
    Partial whole = parse_stretch(text, 1, true, false);
    if (whole.error) return std::move(*whole.error);
    if (strict) {
        if (auto status = whole.grid.validate(); !status) return std::move(status).error();
    }
    return std::move(whole.grid);
}

namespace {

Result<TextGrid> one_pass_observed(std::string_view text, bool strict, const RowObserver& observe) {
    auto grid = parse_long_text_one_pass(text, strict);
    if (grid && observe) hand_over_rows(grid.value(), observe);
    return grid;
}

}  // namespace

Result<TextGrid> parse_long_text_in_pieces(std::string_view text, bool strict,
                                           std::size_t processors,
                                           const std::vector<QuoteAndLineCount>& piece_counts,
                                           const RowObserver& observe, AfterReading after) {
    if (text.empty()) return one_pass_observed(text, strict, observe);
    return read_in_pieces(text, strict, processors, piece_counts, observe, after);
}

Result<TextGrid> parse_long_text(std::string_view text, bool strict,
                                 const std::vector<QuoteAndLineCount>& piece_counts,
                                 const RowObserver& observe, AfterReading after) {
    // Pool workers are already busy with other files.
    if (text.size() < PIECEWISE_FROM_BYTES || on_pool_worker())
        return one_pass_observed(text, strict, observe);
    const std::size_t processors = thread_count();
    if (processors < 2) return one_pass_observed(text, strict, observe);
    return parse_long_text_in_pieces(text, strict, processors, piece_counts, observe, after);
}

Result<TextGrid> parse_long(std::string_view path, bool strict) {
    auto text = load_text(path);
    if (!text) return std::move(text).error();
    return parse_long_text(text.value().view(), strict, text.value().piece_counts());
}

}  // namespace textgrid
