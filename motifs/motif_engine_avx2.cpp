#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "motifs/motif_kernels.h"

// Compiled with -mavx2 and only called when the processor has AVX2. Nothing here may be
// an inline function shared with other translation units, or a copy built for AVX2 could
// serve callers on processors without it.
namespace motif_kernels {
namespace {

struct Pair {
  __m256i low;
  __m256i high;
};

inline Pair Load(const WordBlock& block) {
  return {_mm256_load_si256(reinterpret_cast<const __m256i*>(block.word)),
          _mm256_load_si256(reinterpret_cast<const __m256i*>(block.word + 4))};
}

inline void Store(WordBlock& block, const Pair& value) {
  _mm256_store_si256(reinterpret_cast<__m256i*>(block.word), value.low);
  _mm256_store_si256(reinterpret_cast<__m256i*>(block.word + 4), value.high);
}

inline __m256i Step(__m256i state, __m256i first, const std::uint64_t* mask) {
  const __m256i shifted = _mm256_or_si256(_mm256_srli_epi64(state, 1), first);
  return _mm256_and_si256(shifted, _mm256_load_si256(reinterpret_cast<const __m256i*>(mask)));
}

inline __m256i AddEnds(__m256i hits, __m256i state, __m256i end) {
  return _mm256_add_epi64(hits, _mm256_and_si256(state, end));
}

inline std::size_t RunEnd(const ScanJob& job, std::size_t start) {
  return job.residue_count - start < kResiduesPerFlush ? job.residue_count
                                                       : start + kResiduesPerFlush;
}

// Adds every counter field of one block to its slot count and clears the counters. A
// shift of 64 or more gives 0, so lanes without a field of that rank add nothing.
void Flush(const ScanJob& job, std::size_t block, Pair& hits) {
  const __m256i field_mask = _mm256_set1_epi64x((1 << kCounterBits) - 1);
  for (std::size_t rank = 0; rank < job.ranks; ++rank) {
    const Pair shifts = Load(job.field_shifts[block * job.ranks + rank]);
    WordBlock& slot_counts = job.slot_counts[block * job.ranks + rank];
    Pair counts = Load(slot_counts);
    counts.low = _mm256_add_epi64(
        counts.low, _mm256_and_si256(_mm256_srlv_epi64(hits.low, shifts.low), field_mask));
    counts.high = _mm256_add_epi64(
        counts.high, _mm256_and_si256(_mm256_srlv_epi64(hits.high, shifts.high), field_mask));
    Store(slot_counts, counts);
  }
  hits.low = _mm256_setzero_si256();
  hits.high = _mm256_setzero_si256();
}

// Scans kGroup blocks side by side, twin blocks (both strands) or single ones: the
// shift-and step of one block waits on its previous residue, so several blocks in flight
// keep the vector units busy. Twin blocks come first among the counters and own two state
// blocks each.
template <bool kTwin, std::size_t kGroup>
void ScanGroup(const ScanJob& job, std::size_t first_block) {
  const std::size_t first_counter = kTwin ? first_block : job.twin_blocks + first_block;
  const WordBlock* masks[kGroup];
  Pair forward[kGroup], reverse[kGroup], hits[kGroup];
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
  }
  for (std::size_t start = 0; start < job.residue_count; start += kResiduesPerFlush) {
    const std::size_t stop = RunEnd(job, start);
    for (std::size_t j = start; j < stop; ++j) {
      const std::size_t row = job.codes[j];
      for (std::size_t g = 0; g < kGroup; ++g) {
        const Pair first = Load(job.first_bits[first_counter + g]);
        const Pair end = Load(job.end_bits[first_counter + g]);
        const std::uint64_t* forward_mask = masks[g][row].word;
        forward[g].low = Step(forward[g].low, first.low, forward_mask);
        forward[g].high = Step(forward[g].high, first.high, forward_mask + 4);
        if constexpr (kTwin) {
          const std::uint64_t* reverse_mask = masks[g][kCodeRows + row].word;
          reverse[g].low = Step(reverse[g].low, first.low, reverse_mask);
          reverse[g].high = Step(reverse[g].high, first.high, reverse_mask + 4);
          hits[g].low =
              AddEnds(hits[g].low, _mm256_or_si256(forward[g].low, reverse[g].low), end.low);
          hits[g].high =
              AddEnds(hits[g].high, _mm256_or_si256(forward[g].high, reverse[g].high), end.high);
        } else {
          hits[g].low = AddEnds(hits[g].low, forward[g].low, end.low);
          hits[g].high = AddEnds(hits[g].high, forward[g].high, end.high);
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

// Runs the blocks [0, count) in pairs, and the last one alone when the count is odd.
template <bool kTwin>
void ScanInPairs(const ScanJob& job, std::size_t count) {
  std::size_t block = 0;
  for (; block + 2 <= count; block += 2) ScanGroup<kTwin, 2>(job, block);
  if (block < count) ScanGroup<kTwin, 1>(job, block);
}

}  // namespace

void ScanBlocksAvx2(const ScanJob& job) {
  ScanInPairs<true>(job, job.twin_blocks);
  ScanInPairs<false>(job, job.single_blocks);
}

// Words are updated in increasing order, each reading the word above before that one is
// rewritten.
void ScanLongAvx2(const LongScanJob& job) {
  const auto load = [](const std::uint64_t* words) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words));
  };
  const auto store = [](std::uint64_t* words, __m256i value) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(words), value);
  };
  const auto step = [&](const std::uint64_t* state, const std::uint64_t* mask, __m256i first) {
    const __m256i carried =
        _mm256_or_si256(_mm256_srli_epi64(load(state), 1), _mm256_slli_epi64(load(state + 1), 63));
    return _mm256_and_si256(_mm256_or_si256(carried, first), load(mask));
  };
  for (std::size_t j = 0; j < job.residue_count; ++j) {
    const std::uint64_t* forward_mask = job.masks + job.codes[j] * job.words;
    const std::uint64_t* reverse_mask = forward_mask + kCodeRows * job.words;
    for (std::size_t w = 0; w < job.words; w += 4) {
      const __m256i first = load(job.first_bits + w);
      const __m256i forward = step(job.forward + w, forward_mask + w, first);
      const __m256i reverse = step(job.reverse + w, reverse_mask + w, first);
      store(job.forward + w, forward);
      store(job.reverse + w, reverse);
      store(job.hits + w,
            AddEnds(load(job.hits + w), _mm256_or_si256(forward, reverse), load(job.end_bits + w)));
    }
  }
}

}  // namespace motif_kernels
