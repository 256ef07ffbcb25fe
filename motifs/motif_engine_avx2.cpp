#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "motifs/motif_engine.h"

// Compiled with -mavx2 and only called when the processor has AVX2. Nothing here may be
// an inline function shared with other translation units, or a copy built for AVX2 could
// serve callers on processors without it.
namespace motif_engine_detail {
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

void ScanTwin(const ScanJob& job, std::size_t block) {
  const WordBlock* masks = job.twin_masks + block * 2 * kCodeRows;
  WordBlock* state = job.state + 2 * block;
  Pair forward = Load(state[0]);
  Pair reverse = Load(state[1]);
  Pair hits = Load(job.hit_counters[block]);
  const Pair first = Load(job.first_bits[block]);
  const Pair end = Load(job.end_bits[block]);
  for (std::size_t j = 0; j < job.residue_count; ++j) {
    const std::uint64_t* forward_mask = masks[job.codes[j]].word;
    const std::uint64_t* reverse_mask = masks[kCodeRows + job.codes[j]].word;
    forward.low = Step(forward.low, first.low, forward_mask);
    forward.high = Step(forward.high, first.high, forward_mask + 4);
    reverse.low = Step(reverse.low, first.low, reverse_mask);
    reverse.high = Step(reverse.high, first.high, reverse_mask + 4);
    hits.low = _mm256_add_epi64(
        hits.low, _mm256_and_si256(_mm256_or_si256(forward.low, reverse.low), end.low));
    hits.high = _mm256_add_epi64(
        hits.high, _mm256_and_si256(_mm256_or_si256(forward.high, reverse.high), end.high));
  }
  Store(state[0], forward);
  Store(state[1], reverse);
  Store(job.hit_counters[block], hits);
}

void ScanSingle(const ScanJob& job, std::size_t block) {
  const std::size_t counter_block = job.twin_blocks + block;
  const WordBlock* masks = job.single_masks + block * kCodeRows;
  WordBlock& state = job.state[2 * job.twin_blocks + block];
  Pair current = Load(state);
  Pair hits = Load(job.hit_counters[counter_block]);
  const Pair first = Load(job.first_bits[counter_block]);
  const Pair end = Load(job.end_bits[counter_block]);
  for (std::size_t j = 0; j < job.residue_count; ++j) {
    const std::uint64_t* mask = masks[job.codes[j]].word;
    current.low = Step(current.low, first.low, mask);
    current.high = Step(current.high, first.high, mask + 4);
    hits.low = _mm256_add_epi64(hits.low, _mm256_and_si256(current.low, end.low));
    hits.high = _mm256_add_epi64(hits.high, _mm256_and_si256(current.high, end.high));
  }
  Store(state, current);
  Store(job.hit_counters[counter_block], hits);
}

}  // namespace

void ScanBlocksAvx2(const ScanJob& job) {
  for (std::size_t block = 0; block < job.twin_blocks; ++block) ScanTwin(job, block);
  for (std::size_t block = 0; block < job.single_blocks; ++block) ScanSingle(job, block);
}

}  // namespace motif_engine_detail
