#include <cstddef>
#include <cstdint>

#include "motifs/motif_engine.h"

namespace motif_engine_detail {

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
    if (twin) {
      for (std::size_t j = 0; j < job.residue_count; ++j) {
        const std::uint64_t* forward_mask = masks[job.codes[j]].word;
        const std::uint64_t* reverse_mask = masks[kCodeRows + job.codes[j]].word;
        for (std::size_t lane = 0; lane < kBlockWords; ++lane) {
          forward[lane] = ((forward[lane] >> 1) | first[lane]) & forward_mask[lane];
          reverse[lane] = ((reverse[lane] >> 1) | first[lane]) & reverse_mask[lane];
          hits[lane] += (forward[lane] | reverse[lane]) & end[lane];
        }
      }
    } else {
      for (std::size_t j = 0; j < job.residue_count; ++j) {
        const std::uint64_t* mask = masks[job.codes[j]].word;
        for (std::size_t lane = 0; lane < kBlockWords; ++lane) {
          forward[lane] = ((forward[lane] >> 1) | first[lane]) & mask[lane];
          hits[lane] += forward[lane] & end[lane];
        }
      }
    }
    for (std::size_t lane = 0; lane < kBlockWords; ++lane) {
      state[0].word[lane] = forward[lane];
      if (twin) state[1].word[lane] = reverse[lane];
      job.hit_counters[block].word[lane] = hits[lane];
    }
  }
}

}  // namespace motif_engine_detail
