#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "motifs/motif_engine.h"

// Compiled with -mavx512f and only called when the processor has AVX-512. Nothing here may
// be an inline function shared with other translation units, or a copy built for AVX-512
// could serve callers on processors without it.
namespace motif_engine_detail {
namespace {

// Truth tables for _mm512_ternarylogic_epi64(a, b, c).
constexpr int kOrThenAnd = 0xA8;  // (a | b) & c

inline __m512i Load(const WordBlock& block) { return _mm512_load_si512(block.word); }
inline void Store(WordBlock& block, __m512i value) { _mm512_store_si512(block.word, value); }
// The zero-masking form with every lane selected: the same instruction as the plain shift,
// whose header form trips g++ 12's uninitialised-value warning.
inline __m512i ShiftRightOne(__m512i value) { return _mm512_maskz_srli_epi64(0xFF, value, 1); }

void ScanTwin(const ScanJob& job, std::size_t block) {
  const WordBlock* masks = job.twin_masks + block * 2 * kCodeRows;
  WordBlock* state = job.state + 2 * block;
  __m512i forward = Load(state[0]);
  __m512i reverse = Load(state[1]);
  __m512i hits = Load(job.hit_counters[block]);
  const __m512i first = Load(job.first_bits[block]);
  const __m512i end = Load(job.end_bits[block]);
  for (std::size_t j = 0; j < job.residue_count; ++j) {
    const std::size_t row = job.codes[j];
    forward =
        _mm512_ternarylogic_epi64(ShiftRightOne(forward), first, Load(masks[row]), kOrThenAnd);
    reverse = _mm512_ternarylogic_epi64(ShiftRightOne(reverse), first, Load(masks[kCodeRows + row]),
                                        kOrThenAnd);
    hits = _mm512_add_epi64(hits, _mm512_ternarylogic_epi64(forward, reverse, end, kOrThenAnd));
  }
  Store(state[0], forward);
  Store(state[1], reverse);
  Store(job.hit_counters[block], hits);
}

void ScanSingle(const ScanJob& job, std::size_t block) {
  const std::size_t counter_block = job.twin_blocks + block;
  const WordBlock* masks = job.single_masks + block * kCodeRows;
  WordBlock& state = job.state[2 * job.twin_blocks + block];
  __m512i current = Load(state);
  __m512i hits = Load(job.hit_counters[counter_block]);
  const __m512i first = Load(job.first_bits[counter_block]);
  const __m512i end = Load(job.end_bits[counter_block]);
  for (std::size_t j = 0; j < job.residue_count; ++j) {
    current = _mm512_ternarylogic_epi64(ShiftRightOne(current), first, Load(masks[job.codes[j]]),
                                        kOrThenAnd);
    hits = _mm512_add_epi64(hits, _mm512_and_si512(current, end));
  }
  Store(state, current);
  Store(job.hit_counters[counter_block], hits);
}

}  // namespace

void ScanBlocksAvx512(const ScanJob& job) {
  for (std::size_t block = 0; block < job.twin_blocks; ++block) ScanTwin(job, block);
  for (std::size_t block = 0; block < job.single_blocks; ++block) ScanSingle(job, block);
}

}  // namespace motif_engine_detail
