// Decimal-separator conversion of reply texts and trimming helpers.
#pragma once

#include <cstddef>
#include <string>

namespace zel {

// Separator modes: 0 none, 1 '.', 2 the system's decimal separator, 3 the
// user character. Every '.', ',' and `character` (the user character; callers
// pass the global one) of the text becomes the target character; the length
// never changes; a zero target character changes nothing. Logs "[KvSetDecSep(...)]" and its end (mask 64). A null
// buffer is left alone.
void KvSetDecSep(std::string& text, int mode, char character);
void KvSetDecSep(char* buffer, int mode, char character);

// Removes trailing CR, LF and blanks in place (a null buffer is ignored).
void KvTrimRight(char* buffer);
// Removes leading and trailing CR, LF and blanks; tabs stay.
void KvTrimText(std::string& text);

// Copies text into a caller's buffer of `size` bytes, always terminated,
// never beyond the buffer. A null buffer or size 0 writes nothing.
void CopyToBuffer(char* buffer, size_t size, const std::string& text);

}  // namespace zel
