// SPDX-License-Identifier: Apache-2.0
// Names from the file system as a terminal may show them: a newline in a folder name would
// split a table row, and escape sequences in it would reach the terminal.
#ifndef VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__PRINTABLE_TEXT_HPP_
#define VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__PRINTABLE_TEXT_HPP_

#include <string>

namespace vantorel_tools {

// `text` with every control character escaped: \n, \r and \t as such, the other C0
// controls, DEL and the C1 controls (U+0080 to U+009F in UTF-8) as \xNN. Everything else,
// other UTF-8 included, is left as it is.
std::string printable(const std::string& text);

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__PRINTABLE_TEXT_HPP_
