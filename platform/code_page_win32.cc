#include "platform/code_page_win32.h"

#include <windows.h>

#include "platform/os.h"

namespace os {

static_assert(kErrorNoUnicodeTranslation == ERROR_NO_UNICODE_TRANSLATION);

bool TextInCodePage(unsigned code_page, const wchar_t* wide, int length, std::string* text) {
  text->clear();
  if (length == 0) return true;
  BOOL lossy = FALSE;
  // UTF-8 refuses the lossy flag and has a form for every character but an
  // unpaired surrogate, which it writes as U+FFFD unless told to fail.
  bool utf8 = code_page == CP_UTF8;
  DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* lossy_out = utf8 ? nullptr : &lossy;
  int size = ::WideCharToMultiByte(code_page, flags, wide, length, nullptr, 0, nullptr, lossy_out);
  if (size <= 0) return false;
  text->assign(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(code_page, flags, wide, length, &(*text)[0], size, nullptr, lossy_out);
  if (utf8) {
    lossy = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, length, nullptr, 0, nullptr,
                                  nullptr) == 0;
  }
  if (lossy) {
    ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return false;
  }
  return true;
}

bool AnsiText(const wchar_t* wide, int length, std::string* text) {
  return TextInCodePage(::GetACP(), wide, length, text);
}

}  // namespace os
