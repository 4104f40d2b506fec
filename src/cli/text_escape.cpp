#include "cli/text_escape.h"

#include <cstdio>

namespace korvante::cli {

std::string escapeControls(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", c);
            out += code;
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace korvante::cli
