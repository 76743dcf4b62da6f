// How label and tip texts fall into lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace telvio {

// The pieces between newline characters, empty pieces dropped: leading, trailing and
// repeated newlines make no line. A piece holding only a space is still a line.
std::vector<std::string> SplitLines(std::string_view text);

// Every byte of `text` on a line of its own: "ABC" becomes "A\nB\nC".
std::string StackLetters(std::string_view text);

// One more than the number of newline characters.
int CountLines(std::string_view text);

}  // namespace telvio
