// Small text helpers shared by the message layer (private).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kohttp::detail {

// Splits like reading with a delimiter from a stream: empty pieces between
// delimiters remain, a trailing delimiter adds no piece, "" gives none.
std::vector<std::string_view> split(std::string_view text, char delim);
// Removes " \t\r\n" from both ends.
std::string_view trim(std::string_view text);
std::string toLower(std::string_view text);
bool equalsNoCase(std::string_view a, std::string_view b);
// Removes double quotes and apostrophes from both ends.
std::string_view stripQuotes(std::string_view text);

} // namespace kohttp::detail
