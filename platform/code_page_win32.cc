#include "platform/code_page_win32.h"

#include <windows.h>

#include "platform/os.h"

namespace os {

static_assert(kErrorNoUnicodeTranslation == ERROR_NO_UNICODE_TRANSLATION);

bool AnsiText(const wchar_t* wide, int length, std::string* text) {
  text->clear();
  if (length == 0) return true;
  BOOL lossy = FALSE;
  // UTF-8 has a form for every character and refuses the lossy flag.
  bool utf8 = ::GetACP() == CP_UTF8;
  DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* lossy_out = utf8 ? nullptr : &lossy;
  int size = ::WideCharToMultiByte(CP_ACP, flags, wide, length, nullptr, 0, nullptr, lossy_out);
  if (size <= 0) return false;
  text->assign(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, flags, wide, length, &(*text)[0], size, nullptr, lossy_out);
  if (lossy) {
    ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return false;
  }
  return true;
}

}  // namespace os
