#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "motifs/motif_engine.h"

namespace motif_engine_detail {
namespace {

constexpr std::uint64_t kFieldMask = (std::uint64_t{1} << kCounterBits) - 1;

// Adds every counter field of one block to its slot count and clears the counters.
void Flush(const ScanJob& job, std::size_t block, std::uint64_t* hits) {
  for (std::size_t rank = 0; rank < job.ranks; ++rank) {
    const WordBlock& shifts = job.field_shifts[block * job.ranks + rank];
    WordBlock& slot_counts = job.slot_counts[block * job.ranks + rank];
    for (std::size_t lane = 0; lane < kBlockWords; ++lane) {
      if (shifts.word[lane] < 64) {
        slot_counts.word[lane] += (hits[lane] >> shifts.word[lane]) & kFieldMask;
      }
    }
  }
  std::fill_n(hits, kBlockWords, 0);
}

}  // namespace

// Portable path: plain 64-bit words, eight independent lanes per block so that the
// shift-and chains of a block overlap in the pipeline.
void ScanBlocksScalar(const ScanJob& job) {
  const std::size_t blocks = job.twin_blocks + job.single_blocks;
  for (std::size_t block = 0; block < blocks; ++block) {
    const bool twin = block < job.twin_blocks;
    const WordBlock* masks = twin ? job.twin_masks + block * 2 * kCodeRows
                                  : job.single_masks + (block - job.twin_blocks) * kCodeRows;
    WordBlock* state = job.state + (twin ? 2 * block : job.twin_blocks + block);
    std::uint64_t forward[kBlockWords];
    std::uint64_t reverse[kBlockWords];
    std::uint64_t hits[kBlockWords];
    std::uint64_t first[kBlockWords];
    std::uint64_t end[kBlockWords];
    for (std::size_t lane = 0; lane < kBlockWords; ++lane) {
      forward[lane] = state[0].word[lane];
      reverse[lane] = twin ? state[1].word[lane] : 0;
      hits[lane] = job.hit_counters[block].word[lane];
      first[lane] = job.first_bits[block].word[lane];
      end[lane] = job.end_bits[block].word[lane];
    }
    for (std::size_t start = 0; start < job.residue_count; start += kResiduesPerFlush) {
      const std::size_t stop = std::min(job.residue_count, start + kResiduesPerFlush);
      if (twin) {
        for (std::size_t j = start; j < stop; ++j) {
          const std::uint64_t* forward_mask = masks[job.codes[j]].word;
          const std::uint64_t* reverse_mask = masks[kCodeRows + job.codes[j]].word;
          for (std::size_t lane = 0; lane < kBlockWords; ++lane) {
            forward[lane] = ((forward[lane] >> 1) | first[lane]) & forward_mask[lane];
            reverse[lane] = ((reverse[lane] >> 1) | first[lane]) & reverse_mask[lane];
            hits[lane] += (forward[lane] | reverse[lane]) & end[lane];
          }
        }
      } else {
        for (std::size_t j = start; j < stop; ++j) {
          const std::uint64_t* mask = masks[job.codes[j]].word;
          for (std::size_t lane = 0; lane < kBlockWords; ++lane) {
            forward[lane] = ((forward[lane] >> 1) | first[lane]) & mask[lane];
            hits[lane] += forward[lane] & end[lane];
          }
        }
      }
      if (job.flush || stop < job.residue_count) Flush(job, block, hits);
    }
    for (std::size_t lane = 0; lane < kBlockWords; ++lane) {
      state[0].word[lane] = forward[lane];
      if (twin) state[1].word[lane] = reverse[lane];
      job.hit_counters[block].word[lane] = hits[lane];
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

}  // namespace motif_engine_detail
