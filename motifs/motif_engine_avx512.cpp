#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "motifs/motif_kernels.h"

// Compiled with -mavx512f and only called when the processor has AVX-512. Nothing here may
// be an inline function shared with other translation units, or a copy built for AVX-512
// could serve callers on processors without it.
namespace motif_kernels {
namespace {

// Truth tables for _mm512_ternarylogic_epi64(a, b, c).
constexpr int kOrThenAnd = 0xA8;  // (a | b) & c
constexpr int kOr3 = 0xFE;        // a | b | c

inline __m512i Load(const WordBlock& block) { return _mm512_load_si512(block.word); }
inline void Store(WordBlock& block, __m512i value) { _mm512_store_si512(block.word, value); }
// The zero-masking forms with every lane selected: the same instructions as the plain
// shifts, whose header forms trip g++ 12's uninitialised-value warning.
inline __m512i ShiftRightOne(__m512i value) { return _mm512_maskz_srli_epi64(0xFF, value, 1); }
inline __m512i ShiftLeft63(__m512i value) { return _mm512_maskz_slli_epi64(0xFF, value, 63); }
inline __m512i ShiftRight(__m512i value, __m512i counts) {
  return _mm512_maskz_srlv_epi64(0xFF, value, counts);
}

inline std::size_t RunEnd(const ScanJob& job, std::size_t start) {
  return job.residue_count - start < kResiduesPerFlush ? job.residue_count
                                                       : start + kResiduesPerFlush;
}

// Adds every counter field of one block to its slot count and clears the counters. A
// shift of 64 or more gives 0, so lanes without a field of that rank add nothing.
void Flush(const ScanJob& job, std::size_t block, __m512i& hits) {
  const __m512i field_mask = _mm512_set1_epi64((1 << kCounterBits) - 1);
  for (std::size_t rank = 0; rank < job.ranks; ++rank) {
    const __m512i shifts = Load(job.field_shifts[block * job.ranks + rank]);
    WordBlock& slot_counts = job.slot_counts[block * job.ranks + rank];
    Store(slot_counts, _mm512_add_epi64(Load(slot_counts),
                                        _mm512_and_si512(ShiftRight(hits, shifts), field_mask)));
  }
  hits = _mm512_setzero_si512();
}

// Scans kGroup blocks side by side, twin blocks (both strands) or single ones: the
// shift-and step of one block waits on its previous residue, so several blocks in flight
// keep the vector units busy. Twin blocks come first among the counters and own two state
// blocks each.
template <bool kTwin, std::size_t kGroup>
void ScanGroup(const ScanJob& job, std::size_t first_block) {
  const std::size_t first_counter = kTwin ? first_block : job.twin_blocks + first_block;
  const WordBlock* masks[kGroup];
  __m512i forward[kGroup], reverse[kGroup], hits[kGroup], first[kGroup], end[kGroup];
  for (std::size_t g = 0; g < kGroup; ++g) {
    const std::size_t block = first_block + g;
    if constexpr (kTwin) {
      masks[g] = job.twin_masks + block * 2 * kCodeRows;
      forward[g] = Load(job.state[2 * block]);
      reverse[g] = Load(job.state[2 * block + 1]);
    } else {
      masks[g] = job.single_masks + block * kCodeRows;
      forward[g] = Load(job.state[2 * job.twin_blocks + block]);
    }
    hits[g] = Load(job.hit_counters[first_counter + g]);
    first[g] = Load(job.first_bits[first_counter + g]);
    end[g] = Load(job.end_bits[first_counter + g]);
  }
  for (std::size_t start = 0; start < job.residue_count; start += kResiduesPerFlush) {
    const std::size_t stop = RunEnd(job, start);
    for (std::size_t j = start; j < stop; ++j) {
      const std::size_t row = job.codes[j];
      for (std::size_t g = 0; g < kGroup; ++g) {
        forward[g] = _mm512_ternarylogic_epi64(ShiftRightOne(forward[g]), first[g],
                                               Load(masks[g][row]), kOrThenAnd);
        if constexpr (kTwin) {
          reverse[g] = _mm512_ternarylogic_epi64(ShiftRightOne(reverse[g]), first[g],
                                                 Load(masks[g][kCodeRows + row]), kOrThenAnd);
          hits[g] = _mm512_add_epi64(
              hits[g], _mm512_ternarylogic_epi64(forward[g], reverse[g], end[g], kOrThenAnd));
        } else {
          hits[g] = _mm512_add_epi64(hits[g], _mm512_and_si512(forward[g], end[g]));
        }
      }
    }
    if (job.flush || stop < job.residue_count) {
      for (std::size_t g = 0; g < kGroup; ++g) Flush(job, first_counter + g, hits[g]);
    }
  }
  for (std::size_t g = 0; g < kGroup; ++g) {
    const std::size_t block = first_block + g;
    if constexpr (kTwin) {
      Store(job.state[2 * block], forward[g]);
      Store(job.state[2 * block + 1], reverse[g]);
    } else {
      Store(job.state[2 * job.twin_blocks + block], forward[g]);
    }
    Store(job.hit_counters[first_counter + g], hits[g]);
  }
}

// Runs the blocks [0, count) in groups of at most four, as even as they come: a group of
// one leaves the units waiting on the step before.
template <bool kTwin>
void ScanInGroups(const ScanJob& job, std::size_t count) {
  for (std::size_t block = 0; block < count;) {
    const std::size_t left = count - block;
    const std::size_t groups = (left + 3) / 4;
    const std::size_t size = (left + groups - 1) / groups;
    switch (size) {
      case 4:
        ScanGroup<kTwin, 4>(job, block);
        break;
      case 3:
        ScanGroup<kTwin, 3>(job, block);
        break;
      case 2:
        ScanGroup<kTwin, 2>(job, block);
        break;
      default:
        ScanGroup<kTwin, 1>(job, block);
        break;
    }
    block += size;
  }
}

}  // namespace

void ScanBlocksAvx512(const ScanJob& job) {
  ScanInGroups<true>(job, job.twin_blocks);
  ScanInGroups<false>(job, job.single_blocks);
}

// Words are updated in increasing order, each reading the word above before that one is
// rewritten.
void ScanLongAvx512(const LongScanJob& job) {
  for (std::size_t j = 0; j < job.residue_count; ++j) {
    const std::uint64_t* forward_mask = job.masks + job.codes[j] * job.words;
    const std::uint64_t* reverse_mask = forward_mask + kCodeRows * job.words;
    for (std::size_t w = 0; w < job.words; w += kBlockWords) {
      const __m512i first = _mm512_loadu_si512(job.first_bits + w);
      const __m512i forward =
          _mm512_and_si512(_mm512_ternarylogic_epi64(
                               ShiftRightOne(_mm512_loadu_si512(job.forward + w)),
                               ShiftLeft63(_mm512_loadu_si512(job.forward + w + 1)), first, kOr3),
                           _mm512_loadu_si512(forward_mask + w));
      const __m512i reverse =
          _mm512_and_si512(_mm512_ternarylogic_epi64(
                               ShiftRightOne(_mm512_loadu_si512(job.reverse + w)),
                               ShiftLeft63(_mm512_loadu_si512(job.reverse + w + 1)), first, kOr3),
                           _mm512_loadu_si512(reverse_mask + w));
      _mm512_storeu_si512(job.forward + w, forward);
      _mm512_storeu_si512(job.reverse + w, reverse);
      const __m512i ends = _mm512_ternarylogic_epi64(
          forward, reverse, _mm512_loadu_si512(job.end_bits + w), kOrThenAnd);
      _mm512_storeu_si512(job.hits + w, _mm512_add_epi64(_mm512_loadu_si512(job.hits + w), ends));
    }
  }
}

}  // namespace motif_kernels
