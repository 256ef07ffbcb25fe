#include "motifs/word_table_engine.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "motifs/anchor_engine.h"
#include "motifs/base_words.h"
#include "motifs/word_table_kernels.h"

using word_table_kernels::kFullRows;
using word_table_kernels::kLetters;
using word_table_kernels::kMostSegments;
using word_table_kernels::kRowsPerSegment;
using word_table_kernels::kRowWords;
using word_table_kernels::kVectorWords;

namespace {

constexpr std::size_t kWordBits = 64;
static_assert(WordTableEngine::kMotifsPerGroup == kVectorWords * kWordBits);
constexpr std::uint8_t kAnyBase = 15;

std::size_t RowsOfLength(std::size_t letters) {
  return letters == kLetters ? 0 : kFullRows + ((std::size_t{1} << (2 * letters)) - 1) / 3;
}

bool AvxAvailable() {
#if defined(MOTIF_ENGINE_X86_KERNELS)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

}  // namespace

bool WordTableEngine::Takes(const IUPAC_Motif& motif) {
  return !motif.codes.empty() && motif.codes.size() <= kMostSegments * kLetters &&
         motif.revComplCodes.size() == motif.codes.size();
}

std::size_t WordTableEngine::Segments(std::size_t length) {
  return (length + kLetters - 1) / kLetters;
}

WordTableEngine::WordTableEngine(const std::vector<IUPAC_Motif>& motifs,
                                 std::span<const std::uint32_t> indices, bool vector_kernel)
    : vector_kernel_(vector_kernel && AvxAvailable()) {
  // 256 motifs to a group, longest first: a group costs about the same whatever its
  // motifs, plus a row per segment of its longest, so the short ones fill the room that
  // the long ones leave.
  std::vector<std::uint32_t> order(indices.begin(), indices.end());
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return motifs[a].codes.size() > motifs[b].codes.size();
  });
  for (std::size_t first = 0; first < order.size(); first += kMotifsPerGroup) {
    Group& group = groups_.emplace_back();
    group.motifs.assign(order.begin() + static_cast<std::ptrdiff_t>(first),
                        order.begin() + static_cast<std::ptrdiff_t>(
                                            std::min(order.size(), first + kMotifsPerGroup)));
    group.segments = Segments(motifs[group.motifs.front()].codes.size());
    group.rows.assign(group.segments * kRowsPerSegment * kRowWords, 0);
    std::vector<std::uint64_t> past_end(group.segments * kRowWords, 0);
    for (std::size_t bit = 0; bit < group.motifs.size(); ++bit) {
      const IUPAC_Motif& motif = motifs[group.motifs[bit]];
      FillRows(group, bit, AnchorCountEngine::BaseMasks(motif.codes), 0, past_end);
      // A palindrome's reverse strand would find the same starts: its rows stay empty.
      if (motif.codes != motif.revComplCodes) {
        FillRows(group, bit, AnchorCountEngine::BaseMasks(motif.revComplCodes), 1, past_end);
      }
    }
    for (std::size_t segment = 0; segment < group.segments; ++segment) {
      for (std::size_t row = 0; row < kRowsPerSegment; ++row) {
        for (std::size_t word = 0; word < kRowWords; ++word) {
          group.rows[(segment * kRowsPerSegment + row) * kRowWords + word] |=
              past_end[segment * kRowWords + word];
        }
      }
    }
  }
}

// Sets the motif's bit in every row its strand takes: in segment s, the full row of each
// word that its positions 3s to 3s + 2 match (positions past its end take any base), and
// the row of each shorter word of r bases that its positions match when it ends within
// them, as a start near the end of a run then needs. A segment wholly past its end takes
// every word: the bit goes to `past_end`.
void WordTableEngine::FillRows(Group& group, std::size_t bit,
                               const std::vector<std::uint8_t>& masks, std::size_t strand,
                               std::vector<std::uint64_t>& past_end) const {
  const std::size_t length = masks.size();
  const std::uint64_t bit_value = std::uint64_t{1} << (bit % kWordBits);
  // With one segment both strands take the same word: one row holds their OR.
  const std::size_t slot = group.segments == 1 ? 0 : strand;
  for (std::size_t segment = 0; segment < group.segments; ++segment) {
    if (segment * kLetters >= length) {
      past_end[segment * kRowWords + slot * kVectorWords + bit / kWordBits] |= bit_value;
      continue;
    }
    std::uint8_t allowed[kLetters];
    for (std::size_t letter = 0; letter < kLetters; ++letter) {
      const std::size_t position = segment * kLetters + letter;
      allowed[letter] = position < length ? masks[position] : kAnyBase;
    }
    for (std::size_t letters = 0; letters <= kLetters; ++letters) {
      if (letters < kLetters && length > segment * kLetters + letters) continue;
      const std::size_t first_row = segment * kRowsPerSegment + RowsOfLength(letters);
      ForEachBaseWord(allowed, letters, 0, [&](std::uint32_t word) {
        const std::size_t row = first_row + word;
        group.rows[row * kRowWords + slot * kVectorWords + bit / kWordBits] |= bit_value;
      });
    }
  }
}

const char* WordTableEngine::KernelName() const { return vector_kernel_ ? "avx2" : "portable"; }

void WordTableEngine::Count(std::span<const std::uint8_t> codes, std::size_t start_limit,
                            std::span<std::uint64_t> counts, Scratch& scratch) const {
  const std::size_t size = codes.size();
  const std::size_t limit = std::min(start_limit, size);
  if (limit == 0 || groups_.empty()) return;

  // The runs of A, C, G, T: any other code ends one, as it matches no motif position here.
  std::vector<std::size_t>& bounds = scratch.run_bounds;
  bounds.clear();
  std::size_t run_start = 0;
  for (std::size_t at = 0; at < size;) {
    // Eight codes at a time: a byte of 4 or more has a bit outside the two lowest. The last
    // eight are read from the end back and shifted, so that no code is looked at alone.
    constexpr std::uint64_t kNoBase = 0xFCFCFCFCFCFCFCFCull;
    std::uint64_t eight = 0;
    if (at + 8 <= size) {
      std::memcpy(&eight, codes.data() + at, sizeof eight);
    } else if (size >= 8) {
      std::memcpy(&eight, codes.data() + size - 8, sizeof eight);
      eight >>= 8 * (at + 8 - size);
    } else {
      std::memcpy(&eight, codes.data() + at, size - at);
    }
    if ((eight & kNoBase) == 0) {
      at += 8;
      continue;
    }
    at += static_cast<std::size_t>(std::countr_zero(eight & kNoBase)) / 8;
    if (at > run_start) bounds.insert(bounds.end(), {run_start, at});
    run_start = ++at;
  }
  if (size > run_start) bounds.insert(bounds.end(), {run_start, size});
  if (bounds.empty()) return;

  // At each position, the word of the bases of its run from there, up to kLetters of them.
  // Each word on its own, so that the loop over a run goes several positions at a time.
  if (scratch.words.size() < size) scratch.words.resize(size);
  std::uint16_t* words = scratch.words.data();
  const std::uint8_t* data = codes.data();
  for (std::size_t run = 0; run < bounds.size(); run += 2) {
    const std::size_t start = bounds[run];
    const std::size_t end = bounds[run + 1];
    const std::size_t full_end = end - start >= kLetters ? end - kLetters + 1 : start;
    for (std::size_t at = start; at < full_end; ++at) {
      std::uint32_t word = 0;
      for (std::size_t letter = 0; letter < kLetters; ++letter)
        word = (word << 2) | data[at + letter];
      words[at] = static_cast<std::uint16_t>(word);
    }
    for (std::size_t at = full_end; at < end; ++at) {
      std::uint32_t word = 0;
      for (std::size_t letter = at; letter < end; ++letter) word = (word << 2) | data[letter];
      words[at] = static_cast<std::uint16_t>(word);
    }
  }

  const std::size_t plane_count = std::max<std::size_t>(4, std::bit_width(limit));
  if (scratch.planes.size() < plane_count * kVectorWords) {
    scratch.planes.resize(plane_count * kVectorWords);
  }
  word_table_kernels::TableJob job{};
  job.words = words;
  job.run_bounds = bounds.data();
  job.run_count = bounds.size() / 2;
  job.limit = limit;
  job.planes = scratch.planes.data();
  job.plane_count = plane_count;
  for (const Group& group : groups_) {
    job.rows = group.rows.data();
    job.segments = group.segments;
#if defined(MOTIF_ENGINE_X86_KERNELS)
    if (vector_kernel_) {
      word_table_kernels::CountTableAvx2(job);
    } else {
      word_table_kernels::CountTablePortable(job);
    }
#else
    word_table_kernels::CountTablePortable(job);
#endif
    // Plane i holds bit i of the group's counts.
    for (std::size_t plane = 0; plane < plane_count; ++plane) {
      for (std::size_t lane = 0; lane < kVectorWords; ++lane) {
        std::uint64_t bits = job.planes[plane * kVectorWords + lane];
        while (bits != 0) {
          const auto bit = lane * kWordBits + static_cast<std::size_t>(std::countr_zero(bits));
          counts[group.motifs[bit]] += std::uint64_t{1} << plane;
          bits &= bits - 1;
        }
      }
    }
  }
}
