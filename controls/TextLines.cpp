#include "controls/TextLines.h"

namespace telvio {

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string StackLetters(std::string_view text) {
    std::string stacked;
    if (text.empty()) return stacked;
    stacked.reserve(text.size() * 2 - 1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (i != 0) stacked.push_back('\n');
        stacked.push_back(text[i]);
    }
    return stacked;
}

int CountLines(std::string_view text) {
    int lines = 1;
    for (char c : text) {
        if (c == '\n') ++lines;
    }
    return lines;
}

}  // namespace telvio
