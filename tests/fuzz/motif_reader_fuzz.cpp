// ReadMotifs on arbitrary bytes: the set it builds must agree with the lines it read, each
// motif must carry its reverse complement, an error must name a line of the input, and a
// set written out must read back to the same motifs.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/nucleotide.h"
#include "motifs/motif_set.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The lines as std::getline hands them out: a final line feed ends the last line and
// starts none.
std::vector<std::string_view> Lines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  std::size_t position = 0;
  while (position < bytes.size()) {
    const std::size_t line_feed = bytes.find('\n', position);
    const std::size_t end = line_feed == std::string_view::npos ? bytes.size() : line_feed;
    lines.push_back(bytes.substr(position, end - position));
    position = end + 1;
  }
  return lines;
}

bool StartsMotifLine(std::string_view line) {
  constexpr std::string_view kFirstLetters = "ATGCRYMKWSBVHDNatgcrymkwsbvhdn";
  return !line.empty() && kFirstLetters.find(line.front()) != std::string_view::npos;
}

// The motif text of a motif line: up to the first tab; without a tab, a final carriage
// return is no part of it.
std::string_view MotifText(std::string_view line) {
  const std::size_t tab = line.find('\t');
  if (tab != std::string_view::npos) return line.substr(0, tab);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

void RequireConsistentMotif(const IUPAC_Motif& motif) {
  const std::size_t n = motif.codes.size();
  Require(motif.length == n, "length is the number of codes");
  Require(motif.revComplCodes.size() == n, "the reverse complement is as long as the motif");
  for (std::size_t i = 0; i < n; ++i) {
    Require(motif.codes[i] >= 0 && motif.codes[i] < kNucleotideSymbolCount,
            "a motif holds IUPAC symbols only");
    Require(motif.revComplCodes[i] == ComplementOf(motif.codes[n - 1 - i]),
            "revComplCodes is the reverse complement of codes");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string_view> lines = Lines(bytes);

  std::istringstream in{std::string(bytes)};
  MotifSet set;
  const auto error = ReadMotifs(in, set);
  Require(set.count == set.motifs.size(), "count is the number of motifs");

  if (error) {
    Require(error->line_number >= 1 && error->line_number <= lines.size(),
            "an error names a line of the input");
    Require(!error->what.empty(), "an error says what is wrong");
    Require(set.count == error->line_number - 1, "every line before the bad one is a motif");
    Require(StartsMotifLine(lines[error->line_number - 1]), "only a motif line is malformed");
  } else {
    Require(set.count <= lines.size(), "at most one motif per line");
    Require(set.count == lines.size() || !StartsMotifLine(lines[set.count]),
            "reading stops at the first line that is no motif line");
  }

  for (std::size_t index = 0; index < set.motifs.size(); ++index) {
    const IUPAC_Motif& motif = set.motifs[index];
    RequireConsistentMotif(motif);
    const std::string_view text = MotifText(lines[index]);
    Require(motif.codes.size() == text.size(), "one code per character of the motif text");
    for (std::size_t i = 0; i < text.size(); ++i) {
      Require(motif.codes[i] == CharToMotifCode(text[i]), "codes are the motif text's symbols");
    }
  }

  // A set written out reads back to the same motifs.
  std::ostringstream written;
  written << set;
  std::istringstream written_in(written.str());
  MotifSet again;
  Require(!ReadMotifs(written_in, again), "a written set reads back without error");
  Require(again.count == set.count, "a written set reads back to as many motifs");
  for (std::size_t index = 0; index < set.motifs.size(); ++index) {
    Require(again.motifs[index].codes == set.motifs[index].codes,
            "a written motif reads back to the same codes");
  }
  return 0;
}
