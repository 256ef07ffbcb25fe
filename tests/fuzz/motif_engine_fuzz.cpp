// The multi-motif engine against the per-motif reference count, in every kernel the
// processor has, over the whole sequence and cut into overlapping chunks, and the anchor
// index and the word tables on every motif they can take when the sequence holds no code
// that needs the exact path: any difference stops the run. The input is a motif list (one motif a
// line, until an empty line) and then the sequence; every byte of either becomes a symbol (or no
// symbol) by its value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "motifs/anchor_engine.h"
#include "motifs/motif_engine.h"
#include "motifs/motif_set.h"
#include "motifs/word_table_engine.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr std::string_view kMotifLetters = "ACGTRYMKWSBVHDN-+acgtn";

// The symbol a byte stands for: mostly letters of the motif alphabet, sometimes one that
// is no symbol at all.
char MotifLetter(unsigned char byte) {
  return byte < 240 ? kMotifLetters[byte % kMotifLetters.size()] : 'U';
}

NucleotideCode SequenceCode(unsigned char byte) {
  return byte < 250 ? static_cast<NucleotideCode>(byte % 17) : 17 + byte % 3;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t split = bytes.find("\n\n");
  if (split == std::string_view::npos) return 0;

  // The motifs, built from text as the motif file builds them.
  MotifSet motifs;
  std::size_t line_start = 0;
  while (line_start < split) {
    std::size_t line_end = bytes.find('\n', line_start);
    if (line_end > split) line_end = split;
    std::string text;
    for (std::size_t i = line_start; i < line_end; ++i) {
      text += MotifLetter(static_cast<unsigned char>(bytes[i]));
    }
    if (!text.empty() && motifs.count < 64) motifs.AppendMotif().InitFromString(text);
    line_start = line_end + 1;
  }
  if (motifs.count == 0) return 0;

  std::vector<NucleotideCode> sequence;
  for (std::size_t i = split + 2; i < size; ++i) sequence.push_back(SequenceCode(data[i]));

  std::vector<std::uint64_t> expected;
  MotifSet reference = motifs;
  for (IUPAC_Motif& motif : reference.motifs) {
    expected.push_back(motif.CountOccurrences(sequence, MOTORIENT_ANY));
  }

  for (const MotifKernel kernel :
       {MotifKernel::kScalar, MotifKernel::kAvx2, MotifKernel::kAvx512}) {
    const MotifCountEngine engine(motifs, kernel);
    MotifCountScratch scratch;
    std::vector<std::uint64_t> whole(motifs.count, 0);
    engine.Count(sequence, sequence.size(), whole, scratch);
    Require(whole == expected, "engine count differs from the reference");

    // Chunks that overlap by the longest motif less one, each counting its own starts.
    const std::size_t overlap = engine.LongestMotif() > 0 ? engine.LongestMotif() - 1 : 0;
    const std::size_t step = 1 + (size % 97);
    std::vector<std::uint64_t> pieces(motifs.count, 0);
    for (std::size_t first = 0; first < sequence.size(); first += step) {
      const std::size_t end = std::min(sequence.size(), first + step + overlap);
      const std::span<const NucleotideCode> chunk(sequence.data() + first, end - first);
      // Each chunk counts the starts in its first `step` positions, the last one too.
      engine.Count(chunk, step, pieces, scratch);
    }
    Require(pieces == expected, "chunked engine count differs from the reference");
  }

  // The anchor index takes sequences of bases, N and codes that are no symbol.
  std::vector<std::uint8_t> bytes_of_sequence;
  for (const NucleotideCode code : sequence) {
    const auto byte = static_cast<std::uint8_t>(code);
    if (AnchorCountEngine::NeedsExactPath(byte)) return 0;
    bytes_of_sequence.push_back(byte);
  }
  std::vector<std::uint32_t> anchored;
  for (std::uint32_t index = 0; index < motifs.count; ++index) {
    if (std::isfinite(AnchorCountEngine::AnchorRate(motifs.motifs[index]))) {
      anchored.push_back(index);
    }
  }
  const AnchorCountEngine anchor(motifs.motifs, anchored);
  std::vector<std::uint64_t> counts(motifs.count, 0);
  anchor.Count(bytes_of_sequence, bytes_of_sequence.size(), counts);
  for (const std::uint32_t index : anchored) {
    Require(counts[index] == expected[index], "anchor index count differs from the reference");
  }

  // The word tables take the same sequences, with both kernels.
  std::vector<std::uint32_t> tabled;
  for (std::uint32_t index = 0; index < motifs.count; ++index) {
    if (WordTableEngine::Takes(motifs.motifs[index])) tabled.push_back(index);
  }
  for (const bool vector_kernel : {false, true}) {
    const WordTableEngine table(motifs.motifs, tabled, vector_kernel);
    WordTableEngine::Scratch scratch;
    std::vector<std::uint64_t> table_counts(motifs.count, 0);
    table.Count(bytes_of_sequence, bytes_of_sequence.size(), table_counts, scratch);
    for (const std::uint32_t index : tabled) {
      Require(table_counts[index] == expected[index],
              "word table count differs from the reference");
    }
  }
  return 0;
}
