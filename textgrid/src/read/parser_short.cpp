#include "read/parser_short.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/parallel.hpp"
#include "text/byte_scan.hpp"
#include "text/numbers.hpp"
#include "text/text.hpp"

namespace textgrid {

namespace {

// A place in the text where a line starts, and that line's number.
struct LineStart {
    std::size_t offset = 0;
    std::size_t number = 1;
};

// Hands out logical lines by position. Positions are asked for in increasing
// order only, so no line table is kept; the first missing line ends the parse.
class Reader {
public:
    // The lines of `text` from `from` on, position 0 being the one there.
    explicit Reader(std::string_view text, LineStart from = {})
        : cursor_(text.substr(from.offset), from.number),
          ends_with_line_feed_(text.empty() || text.back() == '\n'),
          text_size_(text.size()) {}

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

    // Where the line at the current position starts; only where no line was
    // looked ahead at.
    LineStart next_line_start() const {
        return {text_size_ - cursor_.rest().size(), cursor_.next_number()};
    }

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
    std::size_t text_size_;
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

// A tier's five header lines: class, name, bounds and item count.
Status read_tier_header(Reader& reader, Tier& tier) {
    const std::string_view kind_line = reader.next();
    if (reader.error) return *reader.error;
    auto is_interval = read_tier_class(kind_line);
    if (!is_interval) return std::move(is_interval).error();
    tier.is_interval = is_interval.value();
    const std::string_view name = reader.next();
    tier.tmin = parse_f64_or_zero(reader.next());
    tier.tmax = parse_f64_or_zero(reader.next());
    tier.size = parse_count_or_zero(reader.next());
    if (reader.error) return *reader.error;
    decode_praat_string(name, tier.name);
    return Ok{};
}

Status read_tier(Reader& reader, Tier& tier, ReservationBudget& budget) {
    if (auto status = read_tier_header(reader, tier); !status) return status;
    return read_items(reader, tier, tier.size, budget);
}

// A tier's first fault, if any.
std::optional<TextGridError> fault_of(const Tier& tier) {
    if (auto status = tier.validate(); !status) return std::move(status).error();
    return std::nullopt;
}

// Lines before the document's start time: the two header lines and a blank
// one, which some writers leave out. Then the third line is a number, the
// start time itself.
std::size_t header_lines(Reader& reader) {
    return reader.has(2) && parse_f64(reader.line(2)) ? 2 : 3;
}

// ---- tiers read side by side ------------------------------------------------
//
// A large text's tiers are read each on a worker, from where the tier headers
// put them if no label spans lines. A tier read so is the tier one pass reads
// if the tier before ended just where it began; from the first that did not,
// one pass reads the rest.

// Below this one pass is faster than planning.
constexpr std::size_t TIERS_APART_FROM_BYTES = 1u << 20;

// Finds the line a number of line feeds away, skipping whole pieces by the
// counts loading made of them (if it did).
class LineFeeds {
public:
    LineFeeds(std::string_view text, const std::vector<QuoteAndLineCount>& piece_counts)
        : text_(text), counts_(piece_counts) {}

    // Just past the `lines`-th line feed from `from` on; nullopt if fewer follow.
    std::optional<std::size_t> skip(std::size_t from, std::uint64_t lines) const {
        const std::size_t pieces = counts_.size();
        std::size_t k = 0;
        while (k < pieces && end_of(k) <= from) ++k;
        const char* const base = text_.data();
        // The rest of the piece `from` is in, then whole pieces while they fall short.
        const char* p = scan::skip_line_feeds(base + from, base + end_of(k), lines);
        for (++k; lines != 0 && k < pieces; ++k) {
            if (counts_[k].line_feeds < lines) {
                lines -= counts_[k].line_feeds;
                p = base + end_of(k);
            } else {
                p = scan::skip_line_feeds(p, base + end_of(k), lines);
            }
        }
        if (lines != 0) return std::nullopt;
        return static_cast<std::size_t>(p - base);
    }

private:
    std::size_t end_of(std::size_t k) const {
        return k + 1 < counts_.size() ? detail::piece_begin(text_.size(), counts_.size(), k + 1)
                                      : text_.size();
    }

    std::string_view text_;
    const std::vector<QuoteAndLineCount>& counts_;
};

// Where each tier starts if no label after its header spans lines: from the
// first tier's start on, each header's kind and item count. Empty if a header
// does not tell or the text holds fewer lines.
std::vector<LineStart> plan_tiers(std::string_view text, LineStart first, std::uint64_t tiers,
                                  const LineFeeds& line_feeds) {
    std::vector<LineStart> starts{first};
    while (starts.size() < tiers) {
        Reader header(text, starts.back());
        Tier tier;
        if (!read_tier_header(header, tier)) return {};
        const std::uint64_t lines_per_item = tier.is_interval ? 3 : 2;
        if (tier.size > text.size() / lines_per_item) return {};
        const LineStart items = header.next_line_start();
        const auto next = line_feeds.skip(items.offset, tier.size * lines_per_item);
        if (!next) return {};
        starts.push_back({*next, items.number + tier.size * lines_per_item});
    }
    return starts;
}

struct TierRead {
    Tier tier;
    std::optional<TextGridError> error;    // reading stopped there
    std::optional<TextGridError> invalid;  // the tier's first fault, if checked
    LineStart end;                         // where the next tier's lines start
};

TierRead read_tier_at(std::string_view text, LineStart start, std::size_t stop, bool strict) {
    TierRead read;
    Reader reader(text, start);
    ReservationBudget budget((stop - start.offset + 1) / MIN_ITEM_BYTES);
    if (auto status = read_tier(reader, read.tier, budget); !status) {
        read.error = std::move(status).error();
        return read;
    }
    read.end = reader.next_line_start();
    if (strict) read.invalid = fault_of(read.tier);
    return read;
}

// With `apart`, tiers are read side by side where the headers allow. With
// `observe`, each tier's rows are handed over once it and every tier before it
// are read, and freed: the document returned holds its tiers without items.
Result<TextGrid> parse(std::string_view text, bool strict, bool apart,
                       const std::vector<QuoteAndLineCount>& piece_counts,
                       const RowObserver& observe) {
    Reader reader(text);
    TextGrid grid;
    const std::size_t start = header_lines(reader);
    grid.tmin = parse_f64_or_zero(reader.line(start));
    grid.tmax = parse_f64_or_zero(reader.line(start + 1));
    grid.size = parse_count_or_zero(reader.line(start + 3));
    if (reader.error) return *reader.error;
    reader.skip_to(start + 4);
    LineStart next = reader.next_line_start();
    std::vector<std::optional<TextGridError>> faults;  // each tier's first, if strict
    const auto take = [&](Tier&& tier, std::optional<TextGridError>&& fault) {
        grid.add_tier(std::move(tier));
        faults.push_back(std::move(fault));
        if (observe) hand_over_rows(grid.tiers.back(), observe);
    };
    if (apart && grid.size > 1) {
        const auto starts = plan_tiers(text, next, grid.size, LineFeeds(text, piece_counts));
        std::optional<TextGridError> error;
        bool as_planned = true;  // every tier so far ended where the next was to start
        parallel_map_each_ordered(
            starts.size(),
            [&](std::size_t k) {
                const std::size_t stop = k + 1 < starts.size() ? starts[k + 1].offset : text.size();
                return read_tier_at(text, starts[k], stop, strict);
            },
            [&](std::size_t k, TierRead&& read) {
                if (error || !as_planned) return;  // later reads are of no use
                if (read.error) {
                    error = std::move(read.error);
                    return;
                }
                take(std::move(read.tier), std::move(read.invalid));
                next = read.end;
                as_planned = k + 1 == starts.size() || next.offset == starts[k + 1].offset;
            });
        if (error) return std::move(*error);
    }
    Reader rest(text, next);
    ReservationBudget budget((text.size() - next.offset + 1) / MIN_ITEM_BYTES);
    while (grid.tiers.size() < grid.size) {
        Tier tier;
        if (auto status = read_tier(rest, tier, budget); !status) return std::move(status).error();
        std::optional<TextGridError> fault;
        if (strict) fault = fault_of(tier);
        take(std::move(tier), std::move(fault));
    }
    if (strict) {
        if (auto status = grid.validate_header(); !status) return std::move(status).error();
        for (auto& fault : faults)
            if (fault) return std::move(*fault);
    }
    return grid;
}

}  // namespace

Result<TextGrid> parse_short_text(std::string_view text, bool strict,
                                  const std::vector<QuoteAndLineCount>& piece_counts,
                                  const RowObserver& observe) {
    const bool apart =
        text.size() >= TIERS_APART_FROM_BYTES && !on_pool_worker() && thread_count() > 1;
    return parse(text, strict, apart, piece_counts, observe);
}

Result<TextGrid> parse_short_text_one_pass(std::string_view text, bool strict) {
    return parse(text, strict, false, {}, {});
}

namespace detail {
Result<TextGrid> parse_short_text_tiers_apart(std::string_view text, bool strict,
                                              const std::vector<QuoteAndLineCount>& piece_counts,
                                              const RowObserver& observe) {
    return parse(text, strict, true, piece_counts, observe);
}
}  // namespace detail

}  // namespace textgrid
