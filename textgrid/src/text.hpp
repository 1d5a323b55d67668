#pragma once
// Text helpers shared by both parsers. Everything returns views into the loaded
// text; only decode_praat_string allocates (a name or label worth keeping).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error.hpp"

namespace textgrid {

// Whole file as UTF-8. UTF-16 with a byte-order mark is decoded to UTF-8 (mark
// dropped); anything else must be valid UTF-8. A path with a NUL byte is refused.
// A text without any line feed but with carriage returns (classic Mac) gets a
// line feed for each of them; with any line feed present a lone CR is text.
Result<std::string> load_text(std::string_view path);

// Double quotes and line feeds in a stretch of text; the parallel reader counts
// them piecewise to know the quote parity and line number where a piece begins.
struct QuoteAndLineCount {
    std::size_t quotes = 0;
    std::size_t line_feeds = 0;
};
QuoteAndLineCount count_quotes_and_line_feeds(std::string_view text);

// The same text, held the way the parsers read it fastest: on the heap below
// 32 MB, where the allocator hands the same pages back call after call (no page
// faults), and in memory mapped for it alone above (huge pages where the system
// allows). Move-only.
class LoadedText {
public:
    LoadedText() = default;
    explicit LoadedText(std::string text) : owned_(std::move(text)) {}
    LoadedText(std::unique_ptr<char[]> heap, std::size_t length) noexcept
        : heap_(std::move(heap)), length_(length) {}
    LoadedText(char* mapped, std::size_t capacity, std::size_t length) noexcept
        : mapped_(mapped), capacity_(capacity), length_(length) {}
    LoadedText(LoadedText&& other) noexcept { *this = std::move(other); }
    LoadedText& operator=(LoadedText&& other) noexcept;
    ~LoadedText();

    // The bytes themselves, to change in place.
    char* data() noexcept {
        if (mapped_) return mapped_;
        if (heap_) return heap_.get();
        return owned_.data();
    }
    std::string_view view() const noexcept {
        if (mapped_) return {mapped_, length_};
        if (heap_) return {heap_.get(), length_};
        return owned_;
    }

    // The quote and line feed counts of the pieces a large text was checked
    // in (parallel_map_pieces over its bytes), counted while each piece was
    // at hand; empty if it was not checked in pieces.
    const std::vector<QuoteAndLineCount>& piece_counts() const noexcept { return piece_counts_; }
    void set_piece_counts(std::vector<QuoteAndLineCount> counts) noexcept {
        piece_counts_ = std::move(counts);
    }

private:
    std::string owned_;
    std::unique_ptr<char[]> heap_;
    char* mapped_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t length_ = 0;
    std::vector<QuoteAndLineCount> piece_counts_;
};

Result<LoadedText> load_text_buffer(std::string_view path);

// Unicode white space at both ends (U+0009..U+000D, U+0020, U+0085, U+00A0,
// U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
std::string_view trim(std::string_view text);

// One logical line: physical lines joined while their running count of '"' is
// odd, so a quoted label may hold line breaks. `text` is trimmed at both ends;
// `number` is the 1-based physical line number where it starts.
struct Line {
    std::string_view text;
    std::size_t number = 0;
};

class LineCursor {
public:
    // `first_number` is the physical line number of the text's first line.
    explicit LineCursor(std::string_view text, std::size_t first_number = 1)
        : rest_(text), next_number_(first_number) {}
    bool next(Line& line);
    // Where the next line starts (untrimmed); empty once the text is used up.
    std::string_view rest() const noexcept { return rest_; }

private:
    std::string_view rest_;
    std::size_t next_number_ = 1;
};

// Cut at the first '='; key and value trimmed. No '=': nothing.
std::optional<std::pair<std::string_view, std::string_view>> split_key_value(std::string_view line);

// Drops every '"' at the start and at the end.
std::string_view strip_quotes(std::string_view text);

// Praat's string: "..." loses its outer quotes and "" becomes "; anything else
// goes through strip_quotes.
std::string decode_praat_string(std::string_view text);

// A tier's class as Praat writes it ("IntervalTier" or "TextTier", quoted):
// whether it holds intervals. Anything else is "Unknown tier class: " + value.
Result<bool> read_tier_class(std::string_view value);

// Whole text must be a decimal number (or inf/infinity/nan); otherwise nothing.
// Overflow gives a signed infinity, underflow a signed zero.
std::optional<double> parse_f64(std::string_view text);
// parse_f64, with 0.0 for anything that is not a number.
double parse_f64_or_zero(std::string_view text);

// Optional '+' and ASCII digits fitting in 64 bits; otherwise 0.
std::uint64_t parse_count_or_zero(std::string_view text);

// Room reserved ahead for declared item counts, drawn from one budget per text:
// the most items the text could hold. However many counts lie, and by however
// much, all their reservations together stay within what the text could fill.
class ReservationBudget {
public:
    explicit ReservationBudget(std::size_t items) noexcept : left_(items) {}

    // How many of `declared` items to reserve room for now.
    std::size_t take(std::uint64_t declared) noexcept {
        const auto granted = static_cast<std::size_t>(std::min<std::uint64_t>(declared, left_));
        left_ -= granted;
        return granted;
    }

private:
    std::size_t left_;
};

}  // namespace textgrid
