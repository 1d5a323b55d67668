#include "read/long_pieces.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "read/long_stretches.hpp"
#include "runtime/parallel.hpp"
#include "text/text.hpp"
#include "text/utf8.hpp"

namespace textgrid {

using namespace long_stretches;

namespace {

// Past its piece a stretch reads on to the next header, this much first and
// twice as much each time after: a stretch without headers (a label of
// megabytes) then costs what its bytes do, not their square.
constexpr std::size_t FIRST_OVERRUN_BYTES = std::size_t{16} << 10;

// One piece [begin, end) of the text, as a thread read it. Where it begins
// inside quotes is only known once every piece before it is counted: the
// thread takes the first line feed in it for one outside quotes, and the join
// reads the piece again where that was wrong (a label of several lines across
// the cut). Its line numbers count from its beginning; the join adds the lines
// before it.
struct ReadPiece {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool last = false;  // read on to the end of the text, however far
    int read_error = 0;
    bool complete = false;  // every byte up to `end` arrived
    bool in_quotes = false;
    CheckedPiece checked;
    bool stretch_valid = true;  // the bytes its stretch ran on past the piece are UTF-8
    std::string head;           // continuation bytes it begins with
    std::string tail;           // a character its end may cut off
    std::optional<Partial> stretch;
};

struct PieceWork {
    const PieceSource& source;
    bool strict;
    PieceChecker::Check check;
};

// Scans a reader's logical lines for a header, fetching more bytes whenever
// a line may run past those fetched.
class HeaderSearch {
public:
    explicit HeaderSearch(PieceReader& reader) : reader_(reader) {}

    // The first logical line starting in [from, limit) that begins a stretch;
    // `in_quotes` and `line` describe the text at `from` (from > 0).
    std::optional<Cut> find(std::size_t from, std::size_t limit, bool in_quotes, std::size_t line) {
        std::size_t position = from;
        if (in_quotes || reader_.bytes()[from - 1] != '\n') {
            if (!finish_line(position, limit, in_quotes, line)) return std::nullopt;
        }
        for (;;) {
            const std::string_view bytes = reader_.bytes();
            if (position >= limit) return std::nullopt;
            if (position >= bytes.size()) {
                if (!more()) return std::nullopt;
                continue;
            }
            LineCursor cursor(bytes.substr(position), line);
            Line current;
            cursor.next(current);
            // A line that reaches the end of the bytes fetched may go on.
            const bool whole =
                !cursor.rest().empty() || at_end_ || (bytes.back() == '\n' && !open_quote(current));
            if (!whole) {
                more();
                continue;
            }
            if (starts_stretch(current.text)) return Cut{position, current.number};
            position = bytes.size() - cursor.rest().size();
            line = cursor.next_number();
        }
    }

private:
    // Past the logical line under way (line feeds inside quotes belong to
    // it); false if the text ends first, or the limit comes first: then no
    // line starts before it.
    bool finish_line(std::size_t& position, std::size_t limit, bool in_quotes, std::size_t& line) {
        for (;;) {
            const std::string_view bytes = reader_.bytes();
            const char* p = bytes.data() + position;
            const char* const end = bytes.data() + bytes.size();
            while (p < end) {
                const char* const stop =
                    in_quotes ? scan::find_quote(p, end) : scan::find_line_stop(p, end);
                if (in_quotes) line += static_cast<std::size_t>(std::count(p, stop, '\n'));
                if (stop == end) break;
                p = stop + 1;
                if (*stop == '"') {
                    in_quotes = !in_quotes;
                    continue;
                }
                ++line;
                position = static_cast<std::size_t>(p - bytes.data());
                return true;
            }
            position = bytes.size();
            if (position >= limit || !more()) return false;
        }
    }

    // A line that holds an odd number of quotes ended at the end of the bytes
    // inside a label: it goes on past them.
    static bool open_quote(const Line& line) {
        return std::count(line.text.begin(), line.text.end(), '"') % 2 != 0;
    }

    bool more() {
        if (at_end_ || !reader_.fetch_more(step_)) {
            at_end_ = true;
            return false;
        }
        step_ *= 2;
        return true;
    }

    PieceReader& reader_;
    std::size_t step_ = FIRST_OVERRUN_BYTES;
    bool at_end_ = false;
};

// Whether the piece begins inside quotes, taking its first line feed for one
// outside them.
bool assumed_in_quotes(std::string_view bytes, std::size_t lead) {
    const std::string_view piece = bytes.substr(lead);
    const std::string_view first_line = piece.substr(0, piece.find('\n'));
    return std::count(first_line.begin(), first_line.end(), '"') % 2 != 0;
}

void keep_edges(ReadPiece& piece, const PieceReader& reader) {
    const std::string_view bytes = reader.bytes();
    const std::size_t lead = std::min(reader.lead(), bytes.size());
    const std::size_t piece_end = std::min(reader.piece_end(), bytes.size());
    piece.head.assign(bytes.substr(lead, std::min(piece.checked.head, piece_end - lead)));
    if (piece.checked.valid && piece.checked.cut < piece_end)
        piece.tail.assign(bytes.substr(piece.checked.cut, piece_end - piece.checked.cut));
}

// Where the stretch begun in the piece ends: at the first header from the
// piece's end on, or at the end of the text.
std::size_t stretch_end(PieceReader& reader, HeaderSearch& search, const ReadPiece& piece) {
    const std::size_t from = reader.piece_end();
    const bool in_quotes = piece.in_quotes != (piece.checked.count.quotes % 2 != 0);
    if (!piece.last) {
        if (auto cut = search.find(from, static_cast<std::size_t>(-1), in_quotes, 1))
            return cut->position;
    }
    // Read on to the end of the text.
    return reader.bytes().size();
}

void read_and_parse(ReadPiece& piece, PieceReader& reader, std::optional<bool> in_quotes,
                    const PieceWork& work) {
    PieceChecker checker(reader.bytes(), reader.lead(), work.check);
    if (!reader.fetch_piece(checker)) {
        piece.read_error = reader.read_error();
        return;
    }
    piece.complete = true;
    piece.end = reader.end();
    piece.checked = checker.piece();
    const std::string_view fetched = reader.bytes();
    if (piece.begin > 0 && fetched.size() <= reader.lead()) return;  // the text ended before it
    piece.in_quotes =
        in_quotes.value_or(piece.begin > 0 && assumed_in_quotes(fetched, reader.lead()));
    keep_edges(piece, reader);
    HeaderSearch search(reader);
    std::optional<Cut> start = Cut{0, 1};
    if (piece.begin > 0) start = search.find(reader.lead(), reader.piece_end(), piece.in_quotes, 1);
    // No header begins in the piece: the stretch before runs over it.
    if (!start) return;
    const std::size_t stop = stretch_end(reader, search, piece);
    piece.read_error = reader.read_error();
    if (piece.read_error != 0) return;
    const std::string_view bytes = reader.bytes();
    if (work.check == PieceChecker::Check::Utf8AndCount && piece.checked.cut < stop)
        piece.stretch_valid =
            is_valid_utf8(bytes.substr(piece.checked.cut, stop - piece.checked.cut));
    if (!piece.checked.valid || !piece.stretch_valid)
        return;  // no row from bytes that are not text
    piece.stretch = parse_stretch(bytes.substr(start->position, stop - start->position),
                                  start->line, piece.begin == 0, work.strict);
}

// Reads, checks and parses one piece; `in_quotes` nothing to take it from the
// piece itself.
ReadPiece read_piece(const PieceWork& work, std::size_t begin, std::size_t end, bool last,
                     std::optional<bool> in_quotes) {
    ReadPiece piece;
    piece.begin = begin;
    piece.end = end;
    piece.last = last;
    PieceReader reader(work.source, begin, end, last);
    read_and_parse(piece, reader, in_quotes, work);
    trim_piece_memory();
    return piece;
}

// Takes the pieces in text order: checks what each thread took for granted,
// reads a piece again on this thread where that was wrong, and joins the
// stretches. The faults come as reading the text whole would give them: a
// read that failed first, then text that is not UTF-8, then the rows'.
class PiecesJoin {
public:
    PiecesJoin(const PieceWork& work, const PiecesRequest& request, const RowObserver& observe)
        : work_(work), request_(request), join_(observe, request.strict) {}

    void take(ReadPiece piece) {
        if (ended_ || read_error_ != 0) return;
        if (!piece.complete && piece.read_error == 0) {
            // The file shrank while it was read: what is there now is read
            // on from this piece to its end, and nothing after.
            piece = again(piece, true);
            ended_ = true;
        } else if (piece.complete && piece.in_quotes != (before_.quotes % 2 != 0)) {
            piece = again(piece, piece.last);
        }
        if (piece.read_error != 0) {
            read_error_ = piece.read_error;
            return;
        }
        check_utf8(piece);
        if (piece.stretch && valid_utf8_ && !join_.failed()) {
            // Only the first stretch's faults name a line; later ones' leading
            // items may make one.
            piece.stretch->leading_item_line += before_.line_feeds;
            join_.take(*piece.stretch);
        }
        before_ += piece.checked.count;
        release_before(piece.end);
    }

    Result<TextGrid> finish() && {
        if (read_error_ != 0) return errors::read_failed(read_error_);
        if (!valid_utf8_ || (checks_utf8() && !is_valid_utf8(tail_))) return errors::invalid_utf8();
        return std::move(join_).finish();
    }

private:
    bool checks_utf8() const { return work_.check == PieceChecker::Check::Utf8AndCount; }

    ReadPiece again(const ReadPiece& piece, bool last) {
        return read_piece(work_, piece.begin, piece.end, last, before_.quotes % 2 != 0);
    }

    void check_utf8(const ReadPiece& piece) {
        if (!valid_utf8_ || !checks_utf8()) return;
        valid_utf8_ =
            piece.checked.valid && piece.stretch_valid && is_valid_utf8(tail_ + piece.head);
        tail_ = piece.tail;
    }

    // Every later piece starts reading at the byte before it.
    void release_before(std::size_t end) {
        if (!request_.release_read_text || end == 0) return;
        const std::string_view text = work_.source.text();
        release_read_text(text.data() + released_, text.data() + end - 1);
        released_ = end - 1;
    }

    const PieceWork& work_;
    const PiecesRequest& request_;
    StretchJoin join_;
    QuoteAndLineCount before_;
    bool valid_utf8_ = true;
    std::string tail_;
    int read_error_ = 0;
    bool ended_ = false;
    std::size_t released_ = 0;
};

}  // namespace

Result<TextGrid> read_long_in_pieces(const PieceSource& source, std::size_t size,
                                     const PiecesRequest& request, const RowObserver& observe) {
    const PieceWork work{
        source, request.strict,
        request.check_utf8 ? PieceChecker::Check::Utf8AndCount : PieceChecker::Check::CountOnly};
    PiecesJoin join(work, request, observe);
    parallel_map_pieces_ordered(
        size,
        [&](std::size_t begin, std::size_t end) {
            return read_piece(work, begin, end, end == size, std::nullopt);
        },
        [&](std::size_t, ReadPiece&& piece) { join.take(std::move(piece)); },
        request.spread.processors, request.spread.pieces_per_processor);
    return std::move(join).finish();
}

}  // namespace textgrid
