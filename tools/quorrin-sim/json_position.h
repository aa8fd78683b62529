// Finds where a value (or a member's key) lies in JSON text, so that a message about a parsed
// value can name its line and column. The text must be valid JSON.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sim {

struct text_position {
    std::size_t line = 1;    // 1-based
    std::size_t column = 1;  // 1-based, in bytes
};

text_position position_of_offset(const std::string& text, std::size_t offset);

// The position of the value at the JSON pointer's tokens (or of the last member's key when
// at_key is set). Where a token is not found, the position of the deepest value reached.
text_position locate(const std::string& text, const std::vector<std::string>& tokens, bool at_key = false);

}  // namespace sim
