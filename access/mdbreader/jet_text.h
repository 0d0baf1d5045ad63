// The text of an Access 2000 or later database (Jet 4 and after) as it lies in a row, made UTF-8
// here rather than through libmdb and iconv: most cells the reader meets are such text, and the
// conversion and its buffers cost more than the rest of the cell.
#pragma once

#include <cstddef>
#include <string>

namespace lirvo::mdbreader {

// Appends the stored text `bytes`, `size` long, to `out` as UTF-8. The text is UTF-16LE, or, when
// it begins FF FE, "compressed": single bytes standing for U+0001 to U+00FF, a zero byte switching
// to two-byte units and back. A surrogate pair becomes its character; a unit that cannot be read
// (a lone surrogate, an odd last byte) becomes "?"; the text ends at a zero unit, where libmdb's C
// string ends.
void AppendJetText(std::string& out, const unsigned char* bytes, std::size_t size);

}  // namespace lirvo::mdbreader
