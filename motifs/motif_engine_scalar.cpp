#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "motifs/motif_kernels.h"

namespace motif_kernels {
namespace {

constexpr std::uint64_t kFieldMask = (std::uint64_t{1} << kCounterBits) - 1;
// Lanes scanned together: their states, reverse states and counters stay in registers.
constexpr std::size_t kLanesAtOnce = 4;

// Adds every counter field of one lane to its slot counts and clears the counters.
void Flush(const ScanJob& job, std::size_t block, std::size_t lane, std::uint64_t& hits) {
  for (std::size_t rank = 0; rank < job.ranks; ++rank) {
    const std::uint64_t shift = job.field_shifts[block * job.ranks + rank].word[lane];
    if (shift < 64) {
      job.slot_counts[block * job.ranks + rank].word[lane] += (hits >> shift) & kFieldMask;
    }
  }
  hits = 0;
}

// Scans lanes [lane, lane + kLanesAtOnce) of one block: a twin block with the reverse
// strand's masks and state, a single block without.
template <bool kTwin>
void ScanLanes(const ScanJob& job, std::size_t block, std::size_t lane,
               const WordBlock* forward_masks, const WordBlock* reverse_masks,
               WordBlock* forward_state, WordBlock* reverse_state) {
  const std::uint64_t* first = job.first_bits[block].word + lane;
  const std::uint64_t* end = job.end_bits[block].word + lane;
  std::uint64_t forward[kLanesAtOnce];
  std::uint64_t reverse[kLanesAtOnce];
  std::uint64_t hits[kLanesAtOnce];
  for (std::size_t k = 0; k < kLanesAtOnce; ++k) {
    forward[k] = forward_state->word[lane + k];
    reverse[k] = kTwin ? reverse_state->word[lane + k] : 0;
    hits[k] = job.hit_counters[block].word[lane + k];
  }
  for (std::size_t start = 0; start < job.residue_count; start += kResiduesPerFlush) {
    const std::size_t stop = std::min(job.residue_count, start + kResiduesPerFlush);
    for (std::size_t j = start; j < stop; ++j) {
      const std::uint64_t* forward_mask = forward_masks[job.codes[j]].word + lane;
      const std::uint64_t* reverse_mask = kTwin ? reverse_masks[job.codes[j]].word + lane : nullptr;
      for (std::size_t k = 0; k < kLanesAtOnce; ++k) {
        forward[k] = ((forward[k] >> 1) | first[k]) & forward_mask[k];
        if constexpr (kTwin) {
          reverse[k] = ((reverse[k] >> 1) | first[k]) & reverse_mask[k];
          hits[k] += (forward[k] | reverse[k]) & end[k];
        } else {
          hits[k] += forward[k] & end[k];
        }
      }
    }
    if (job.flush || stop < job.residue_count) {
      for (std::size_t k = 0; k < kLanesAtOnce; ++k) Flush(job, block, lane + k, hits[k]);
    }
  }
  for (std::size_t k = 0; k < kLanesAtOnce; ++k) {
    forward_state->word[lane + k] = forward[k];
    if (kTwin) reverse_state->word[lane + k] = reverse[k];
    job.hit_counters[block].word[lane + k] = hits[k];
  }
}

}  // namespace

// Portable path: plain 64-bit words, a few independent lanes at a time so that their
// shift-and chains overlap in the pipeline.
void ScanBlocksScalar(const ScanJob& job) {
  for (std::size_t block = 0; block < job.twin_blocks; ++block) {
    const WordBlock* masks = job.twin_masks + block * 2 * kCodeRows;
    for (std::size_t lane = 0; lane < kBlockWords; lane += kLanesAtOnce) {
      ScanLanes<true>(job, block, lane, masks, masks + kCodeRows, &job.state[2 * block],
                      &job.state[2 * block + 1]);
    }
  }
  for (std::size_t block = 0; block < job.single_blocks; ++block) {
    const WordBlock* masks = job.single_masks + block * kCodeRows;
    WordBlock* state = &job.state[2 * job.twin_blocks + block];
    for (std::size_t lane = 0; lane < kBlockWords; lane += kLanesAtOnce) {
      ScanLanes<false>(job, job.twin_blocks + block, lane, masks, nullptr, state, nullptr);
    }
  }
}

void ScanLongScalar(const LongScanJob& job) {
  for (std::size_t j = 0; j < job.residue_count; ++j) {
    const std::uint64_t* forward_mask = job.masks + job.codes[j] * job.words;
    const std::uint64_t* reverse_mask = forward_mask + kCodeRows * job.words;
    for (std::size_t w = 0; w < job.words; ++w) {
      const std::uint64_t forward =
          ((job.forward[w] >> 1) | (job.forward[w + 1] << 63) | job.first_bits[w]) &
          forward_mask[w];
      const std::uint64_t reverse =
          ((job.reverse[w] >> 1) | (job.reverse[w + 1] << 63) | job.first_bits[w]) &
          reverse_mask[w];
      job.forward[w] = forward;
      job.reverse[w] = reverse;
      job.hits[w] += (forward | reverse) & job.end_bits[w];
    }
  }
}

}  // namespace motif_kernels
