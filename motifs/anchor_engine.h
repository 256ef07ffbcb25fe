#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "motifs/iupac_motif.h"

// Counts motifs by a short exact anchor instead of advancing every motif at every residue:
// each strand of a motif is indexed by the q <= 8 consecutive positions that match the
// fewest words, expanded into every word of A, C, G, T they match; one pass over the
// sequence keeps a rolling 2-bit code of the last bases, looks up the motifs whose anchor
// it is, and checks only those. Its cost follows the candidates found, not the letters of
// all motifs. Counts agree with CountOccurrences and MOTORIENT_ANY.
class AnchorCountEngine {
 public:
  // Indexes motifs[index] for each index in `indices`; every one must be indexable
  // (AnchorRate below is finite).
  AnchorCountEngine(const std::vector<IUPAC_Motif>& motifs, std::span<const std::uint32_t> indices);

  // Expected candidates per residue of a motif on uniform bases, both strands: what its
  // anchor costs to check. Infinite for a motif that cannot be indexed (empty, or whose
  // best anchor expands into more words than an index takes).
  static double AnchorRate(const IUPAC_Motif& motif);

  // The bases each position of `codes` takes (A 1, T 2, G 4, C 8, as the bits of the
  // residue codes 0 to 3); none for "-", "+" and codes that are no symbol.
  static std::vector<std::uint8_t> BaseMasks(const std::vector<NucleotideCode>& codes);

  // True when the residue code `code` (a byte, 0 to 17) needs the exact match rule that the
  // anchor does not apply: an ambiguity symbol or "-" in a sequence. A, C, G, T are
  // anchored; N, "+" and any code that is no symbol match nothing anyway.
  static bool NeedsExactPath(std::uint8_t code) { return code >= 4 && code < 16; }
  // True when any of `codes` NeedsExactPath: eight at a time, as most pieces hold nothing
  // but A, C, G and T.
  static bool AnyNeedsExactPath(std::span<const std::uint8_t> codes);

  // True when no motif is indexed: Count has nothing to find.
  bool Empty() const { return patterns_.empty(); }

  // Working memory of one thread for Count, reused between calls: the residues of a piece
  // as bit planes, eight to a byte, for the check of a candidate.
  struct Scratch {
    std::vector<std::uint8_t> low;    // bit 0 of each base's code
    std::vector<std::uint8_t> high;   // bit 1 of each base's code
    std::vector<std::uint8_t> other;  // set where the residue is no base
  };

  // Adds to counts[m] the number of start positions p of each indexed motif m with
  // p < start_limit and p + length(m) <= codes.size(). `codes` are residue codes as bytes,
  // none of which NeedsExactPath.
  void Count(std::span<const std::uint8_t> codes, std::size_t start_limit,
             std::span<std::uint64_t> counts, Scratch& scratch) const;
  void Count(std::span<const std::uint8_t> codes, std::size_t start_limit,
             std::span<std::uint64_t> counts) const {
    Scratch scratch;
    Count(codes, start_limit, counts, scratch);
  }

 private:
  // An anchor of one strand of one motif, in the bucket of each word it matches.
  struct Entry {
    std::uint32_t pattern;  // index into patterns_
    std::uint16_t offset;   // where the anchor starts in the motif
    std::uint8_t reverse;   // 1: the reverse complement, counted only where the forward
                            // strand does not match at the same start
    std::uint8_t whole;     // 1: the anchor is the whole strand, which then needs no check
  };
  struct Pattern {
    // Of a motif of up to kBitCheckLength positions, per strand and base code: bit i set
    // when position i takes the base. A window is checked against them at once.
    std::uint64_t takes[2][4];
    std::uint32_t motif;
    std::uint32_t length;
    std::size_t forward;  // base masks of the motif, in masks_
    std::size_t reverse;  // base masks of its reverse complement, in masks_
  };
  // The bit planes of the piece being counted, each padded with eight bytes.
  struct Planes {
    const std::uint8_t* low;
    const std::uint8_t* high;
    const std::uint8_t* other;
  };
  // The longest motif checked against bit planes: a window is read as eight bytes from the
  // byte of its first position, which hold 56 positions from it whatever its bit.
  static constexpr std::size_t kBitCheckLength = 56;
  // Anchors by word (2 bits a base, the first base highest): the entries of word w are
  // entries[starts[w]] to entries[starts[w + 1]].
  struct Table {
    std::size_t length = 0;
    std::vector<std::uint32_t> starts;
    std::vector<Entry> entries;
  };

  static void Fill(Table& table, std::size_t length,
                   std::vector<std::pair<std::uint32_t, Entry>>& anchors);
  // Counts the start `start` of the entry's strand when it matches there.
  void CountCandidate(const std::uint8_t* data, const Planes& planes, std::size_t size,
                      std::size_t start_limit, std::size_t start, const Entry& entry,
                      std::span<std::uint64_t> counts) const;
  // Counts the anchors shorter than eight that end in the last bases of a run, where no
  // word of eight covers them: `word` holds the run's last bases and `run` its length.
  void FinishRun(const std::uint8_t* data, const Planes& planes, std::size_t size,
                 std::size_t start_limit, std::size_t run_end, std::uint32_t word, std::size_t run,
                 std::span<std::uint64_t> counts) const;
  bool Matches(const std::uint8_t* codes, std::size_t mask_offset, std::size_t length) const;

  std::vector<Pattern> patterns_;
  std::vector<std::uint8_t> masks_;  // per position, the bases it takes (A 1, T 2, G 4, C 8)
  // Every anchor under the words of eight bases: one shorter than eight under every word
  // that begins with it. The one lookup a residue.
  Table words_;
  // One bit per word of eight that holds an anchor: small enough to stay in the first-level
  // cache, so that the usual residue, whose word holds none, costs no lookup further out.
  std::vector<std::uint64_t> occupied_;
  // The anchors shorter than eight by their own length, for the starts near the end of a
  // run of bases, where no word of eight follows them.
  std::vector<Table> short_tables_;
};
