#include "platform/code_page.h"

#include "common/text.h"

namespace platform {

std::string wideToAnsi(const std::wstring& text) { return common::wideToUtf8(text); }

std::wstring ansiToWide(const std::string& text) { return common::utf8ToWide(text); }

}  // namespace platform
