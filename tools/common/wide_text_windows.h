// UTF-8 text to and from the UTF-16 of Windows' wide-character calls.
#pragma once

#include <string>

namespace brassmoor {

std::wstring wideText(const std::string& text);
std::string utf8Text(const std::wstring& text);

}  // namespace brassmoor
