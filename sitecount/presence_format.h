#pragma once

#include <cstdint>
#include <span>
#include <string>

// Appends the presence row of one record to `text`: the score columns from the text
// after the header's last tab (none without a tab), then one cell per motif count, and a
// line end. Format 0 writes 1 for a motif found, format 1 its count, any other format an
// empty cell; an absent motif is 0 in every format. Numbers are written as a stream writes
// them by default.
void AppendPresenceRow(std::string& text, const std::string& header,
                       std::span<const std::uint64_t> counts, int output_format);
