// UTF-16 text from the system in the process's active code page, exactly or
// not at all: a look-alike character (best fit, "ő" as "o") in a path names
// another file or folder.
#pragma once

#include <string>

namespace os {

// The `length` characters of `wide` in `code_page`. False, with
// ERROR_NO_UNICODE_TRANSLATION, when a character has no exact form there
// (in UTF-8: an unpaired surrogate, which a Windows file name may hold);
// `text` then holds the code page's default character in its place.
bool TextInCodePage(unsigned code_page, const wchar_t* wide, int length, std::string* text);

// The same in the active code page.
bool AnsiText(const wchar_t* wide, int length, std::string* text);

}  // namespace os
