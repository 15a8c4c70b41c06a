#pragma once
// Text from the user (a folder name, an option) shown on one line of a terminal.

#include <string>
#include <string_view>

namespace fixfir {

/// `text` for display on one line: control characters (a line break, a terminal escape)
/// are written as escapes, `\n`, `\t` or `\xHH`, and so are the C1 controls U+0080 to
/// U+009F and bytes that are not UTF-8, each byte as `\xHH`. Other UTF-8 text is kept.
[[nodiscard]] std::string printable(std::string_view text);

}  // namespace fixfir
