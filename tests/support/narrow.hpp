// The tool's logs and boxes are wide text of ASCII characters; tests search
// them and print them on failure as bytes.
#pragma once

#include <string>
#include <string_view>

namespace testsupport {

inline std::string Narrow(std::wstring_view text) {
    return std::string(text.begin(), text.end());
}

}  // namespace testsupport
