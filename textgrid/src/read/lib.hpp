#pragma once
// The one door for reading a TextGrid file.
#include <string_view>

#include "model/file_type.hpp"
#include "model/textgrid.hpp"
#include "read/loading.hpp"

namespace textgrid {

// The type a file_type names: "long", "short" or "auto", compared exactly;
// anything else raises InternalFailure("Unknown file type: " + file_type).
FileType file_type_named(std::string_view file_type);

// file_type as above; an unknown one fails before the file is touched.
// observe, if given, is handed every row of the document on the calling thread,
// some of them perhaps while the rest is still being read; the document
// returned then holds its tiers without items. How the file is read is the
// plan's (read_plan.hpp); with ReleaseText, the pages of a large text in a
// block of the library's own go back to the system as it is read.
// observe_size, if given, is told a regular file's size before any row.
Result<TextGrid> read_textgrid(std::string_view path, bool strict, std::string_view file_type,
                               const RowObserver& observe = {},
                               AfterReading after = AfterReading::KeepText,
                               const SizeObserver& observe_size = {});
// The same for a file opened already (open_for_reading), such as one whose size
// was looked at first, and a type named already.
Result<TextGrid> read_textgrid(OpenedFile opened, bool strict, FileType type,
                               const RowObserver& observe = {},
                               AfterReading after = AfterReading::KeepText,
                               const SizeObserver& observe_size = {});

// The same for a text loaded already (load_text), of a type named already.
Result<TextGrid> read_loaded_text(const LoadedText& text, bool strict, FileType type,
                                  const RowObserver& observe = {},
                                  AfterReading after = AfterReading::KeepText);

// The same for a text in memory (UTF-8), checked for UTF-8 already or not.
Result<TextGrid> read_text_in_memory(std::string_view text, bool utf8_checked, bool strict,
                                     FileType type, const RowObserver& observe = {});

}  // namespace textgrid
