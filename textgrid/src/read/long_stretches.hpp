#pragma once
// The long-layout reader's stretches: a text cut at tier and item headers is
// read a stretch at a time (see long_pieces.hpp), and the stretches joined in
// text order.

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "model/textgrid.hpp"

namespace textgrid::long_stretches {

// What one stretch of the text adds to the document. Every stretch but the
// first starts at a tier or item header, so document keys only reach the first.
struct Partial {
    TextGrid grid;                       // document keys and the tiers begun here
    Items leading_items;                 // items of the tier current where it begins
    std::size_t leading_item_line = 0;   // physical line of the first of them
    std::optional<TextGridError> error;  // first fault; reading stopped there
    // Validation of the rows, made where the stretch was read. The kind of the
    // tier the leading items belong to is not known there: they are checked as
    // the kind their first header names, and checked again where joined if the
    // tier is of the other kind.
    bool leading_points = false;  // the first leading item began with "points ["
    TierCheck leading_check;
    std::vector<TierCheck> tier_checks;  // one per tier begun here
};

// Where a stretch starts: a tier or item header line, and its physical number.
struct Cut {
    std::size_t position = 0;
    std::size_t line = 0;
};

// Whether a logical line (trimmed) is a tier or item header, where a stretch
// may begin.
bool starts_stretch(std::string_view line);

// Reads one stretch, from a cut to the next (or the text's end); with `check`,
// its rows are also checked (the partial's leading_check and tier_checks).
Partial parse_stretch(std::string_view stretch, std::size_t first_line, bool at_text_start,
                      bool check);

// Joins the stretches in text order as each is read, while later ones are still
// read. Their rows go to the observer, if any (a stretch is freed once told, and
// the document keeps only the tiers' headers), or into the document. Faults are
// found as joining everything and then validating would find them: the first
// in text order, then the header's, then each tier's, from the checks made
// where each stretch was read.
class StretchJoin {
public:
    StretchJoin(const RowObserver& observe, bool strict) : observe_(observe), strict_(strict) {}

    void take(Partial& part);
    // Whether a stretch taken so far had a fault: later ones are not looked at.
    bool failed() const { return error_.has_value(); }
    Result<TextGrid> finish() &&;

private:
    void add_rows(bool begins, Items& items);

    const RowObserver& observe_;
    bool strict_;
    bool first_ = true;
    TextGrid grid_;
    std::vector<TierCheck> checks_;
    std::optional<TextGridError> error_;
};

}  // namespace textgrid::long_stretches
