// ReadMotifs on arbitrary bytes opened as the programs open a motif file (compression
// recognised, gzip decoded, binary data refused), read in small pieces: the set it builds
// must agree with the lines of the text delivered, each motif must carry its reverse
// complement, an error must name a line of the input, a read that fails (at a NUL byte,
// on damaged gzip data) must come exactly where the reader reaches it, and a set written
// out must read back to the same motifs.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/diagnostics.h"
#include "common/input_source.h"
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

// The text that the shared opening delivers from `bytes`, read a block at a time, and
// whether a read failed after it.
struct Delivered {
  std::string text;
  bool failed = false;
};

Delivered Drain(ByteSource& source) {
  Delivered delivered;
  char block[4096];
  for (std::ptrdiff_t got; (got = source.Read(block, sizeof block)) != 0;) {
    if (got < 0) {
      delivered.failed = true;
      break;
    }
    delivered.text.append(block, static_cast<std::size_t>(got));
  }
  return delivered;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  std::string problem;
  std::unique_ptr<ByteSource> opened =
      DecodeInputSource(std::make_unique<MemorySource>(bytes), problem);
  if (opened == nullptr) {
    Require(!problem.empty(), "a refused input says why");
    return 0;
  }
  Require(problem.empty(), "an input read has no problem");
  const Delivered delivered = Drain(*opened);
  Require(delivered.text.find('\0') == std::string::npos, "text delivered holds no NUL");
  // After a failed read the line that it cut is never read; the lines before it are.
  std::string_view read = delivered.text;
  if (delivered.failed) read = read.substr(0, read.rfind('\n') + 1);
  const std::vector<std::string_view> lines = Lines(read);

  // A NUL byte cuts the text at the same byte however it is read. Damaged gzip data fails
  // within a read, dropping what that read had decoded: how much text comes before the
  // damage depends on the reads, and the text is not compared then.
  const bool exact = !delivered.failed || opened->Problem() == BinaryDataText();

  // The programs' way: the same opening over reads of a few bytes, through a stream.
  std::unique_ptr<ByteSource> source =
      DecodeInputSource(std::make_unique<ChunkedSource>(bytes, 1 + size % 5), problem);
  Require(source != nullptr, "the same bytes open the same way in pieces");
  SourceStream in(*source);
  MotifSet set;
  const auto error = ReadMotifs(in, set);
  Require(set.count == set.motifs.size(), "count is the number of motifs");
  for (const IUPAC_Motif& motif : set.motifs) RequireConsistentMotif(motif);

  if (in.failed()) {
    Require(!error, "a failed read ends the reading without a line error");
    Require(delivered.failed, "a read fails in pieces only where it fails whole");
    if (exact && source->Problem() == BinaryDataText()) {
      Require(set.count == lines.size(), "a read fails only after every line before it");
      Require(source->ProblemLine() == lines.size() + 1, "binary data is named by its line");
    }
  } else if (exact && error) {
    Require(error->line_number >= 1 && error->line_number <= lines.size(),
            "an error names a line of the input");
    Require(!error->what.empty(), "an error says what is wrong");
    Require(set.count == error->line_number - 1, "every line before the bad one is a motif");
    Require(StartsMotifLine(lines[error->line_number - 1]), "only a motif line is malformed");
  } else if (exact) {
    Require(set.count <= lines.size(), "at most one motif per line");
    Require(set.count == lines.size() || !StartsMotifLine(lines[set.count]),
            "reading stops at the first line that is no motif line");
    Require(!delivered.failed || set.count < lines.size(),
            "a reader that reaches a failed read sees it");
  }

  for (std::size_t index = 0; exact && index < set.motifs.size(); ++index) {
    const IUPAC_Motif& motif = set.motifs[index];
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
