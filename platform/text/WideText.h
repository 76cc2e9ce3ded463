// platform/text: UTF-8 to and from the wide text of the Windows API.
// Text between the tool, which keeps UTF-8 throughout, and the Windows API,
// whose wide functions take UTF-16: paths, arguments and device names in any
// script pass unchanged, whatever the system's code page.
#pragma once

#include <string>

namespace platform {

std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);

// The system's own words for a Win32 error code, without its full stop.
std::string SystemErrorText(unsigned long code);

}  // namespace platform
