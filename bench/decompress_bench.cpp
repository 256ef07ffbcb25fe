// Speed of reading gzip input, in MB/s of decompressed output: OpenInputSource (ISA-L's
// streaming inflate) against zlib's inflate in the same blocks, and against reading the
// plain file. The input, made once per run, is about 50 MB of FASTA (headers, then random
// ACGT in lines of 60), compressed with zlib at its default level as one member, and as
// members of 64 KB each as block-compressing tools write it.
//
// The library was chosen with this comparison, libdeflate added for that one run, side by
// side on a shared 2-core machine (CPU time, medians of 7 randomly interleaved runs, MB/s
// of decompressed output, one member / 64 KB members):
//   plain file, read in 1 MB blocks   12480
//   OpenInputSource (ISA-L 2.30)        861 / 839
//   ISA-L isal_inflate, bare loop       823 / 862
//   libdeflate 1.14, whole file         722 / 699
//   zlib 1.2.13 inflate                 328 / 307
// ISA-L decodes 2.6 to 2.8 times as fast as zlib, and OpenInputSource adds nothing to it.
// libdeflate decodes only whole buffers: the compressed file and all of its output must
// fit in memory, and a pipe cannot be decoded as it arrives, so it is out whatever its
// speed.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "common/input_source.h"

namespace {

constexpr std::size_t kBlockSize = std::size_t{1} << 20;
constexpr std::size_t kMemberSize = 65280;

std::string MakeFasta() {
  std::mt19937 random(11);
  const char kBases[] = "ACGT";
  std::string text;
  text.reserve(std::size_t{52} << 20);
  for (int record = 0; text.size() < (std::size_t{50} << 20); ++record) {
    text += ">peak_" + std::to_string(record) + "\tchr1:" + std::to_string(record * 600) + '\n';
    for (int line = 0; line < 10; ++line) {
      for (int base = 0; base < 60; ++base) text += kBases[random() % 4];
      text += '\n';
    }
  }
  return text;
}

// Appends `size` bytes at `data` to `out` as one gzip member, at zlib's default level.
void AppendGzipMember(const char* data, std::size_t size, std::string& out) {
  z_stream stream{};
  deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  const std::size_t start = out.size();
  out.resize(start + deflateBound(&stream, size));
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = reinterpret_cast<Bytef*>(out.data() + start);
  stream.avail_out = static_cast<uInt>(out.size() - start);
  deflate(&stream, Z_FINISH);
  out.resize(start + stream.total_out);
  deflateEnd(&stream);
}

struct BenchFiles {
  std::string plain;
  std::string one_member;
  std::string many_members;
  std::size_t size = 0;
};

const BenchFiles& Files() {
  static const BenchFiles files = [] {
    const auto folder = std::filesystem::temp_directory_path();
    BenchFiles made{(folder / "motif_workflow_decompress_bench.fa").string(),
                    (folder / "motif_workflow_decompress_bench.fa.gz").string(),
                    (folder / "motif_workflow_decompress_bench_members.fa.gz").string()};
    const std::string text = MakeFasta();
    made.size = text.size();
    std::string one, many;
    AppendGzipMember(text.data(), text.size(), one);
    for (std::size_t at = 0; at < text.size(); at += kMemberSize) {
      AppendGzipMember(text.data() + at, std::min(kMemberSize, text.size() - at), many);
    }
    std::ofstream(made.plain, std::ios::binary) << text;
    std::ofstream(made.one_member, std::ios::binary) << one;
    std::ofstream(made.many_members, std::ios::binary) << many;
    return made;
  }();
  return files;
}

using GzipFile = std::string BenchFiles::*;

void Finish(benchmark::State& state, std::size_t last_total) {
  if (last_total != Files().size) state.SkipWithError("the output has the wrong size");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Files().size));
}

std::size_t Drain(ByteSource& source, std::vector<char>& block) {
  std::size_t total = 0;
  for (std::ptrdiff_t got; (got = source.Read(block.data(), block.size())) > 0;) {
    total += static_cast<std::size_t>(got);
  }
  return total;
}

// The floor: the plain file's bytes in the same blocks.
void BM_PlainFile(benchmark::State& state) {
  std::vector<char> block(kBlockSize);
  std::size_t total = 0;
  for (auto _ : state) {
    const std::unique_ptr<ByteSource> source = OpenFileSource(Files().plain);
    total = Drain(*source, block);
  }
  Finish(state, total);
}

// The plain file through the format check and the replay of its first bytes.
void BM_OpenInputSourcePlain(benchmark::State& state) {
  std::vector<char> block(kBlockSize);
  std::size_t total = 0;
  std::string problem;
  for (auto _ : state) {
    const std::unique_ptr<ByteSource> source = OpenInputSource(Files().plain, problem);
    total = Drain(*source, block);
  }
  Finish(state, total);
}

void BM_OpenInputSourceGzip(benchmark::State& state, GzipFile file) {
  std::vector<char> block(kBlockSize);
  std::size_t total = 0;
  std::string problem;
  for (auto _ : state) {
    const std::unique_ptr<ByteSource> source = OpenInputSource(Files().*file, problem);
    total = Drain(*source, block);
  }
  Finish(state, total);
}

// zlib's inflate with the same block sizes, a new member after each member's end.
void BM_ZlibInflate(benchmark::State& state, GzipFile file) {
  std::vector<unsigned char> input(kBlockSize), output(kBlockSize);
  std::size_t total = 0;
  for (auto _ : state) {
    const int descriptor = ::open((Files().*file).c_str(), O_RDONLY);
    z_stream stream{};
    inflateInit2(&stream, 15 + 16);
    total = 0;
    for (;;) {
      if (stream.avail_in == 0) {
        const ssize_t got = ::read(descriptor, input.data(), input.size());
        if (got <= 0) break;
        stream.next_in = input.data();
        stream.avail_in = static_cast<uInt>(got);
      }
      stream.next_out = output.data();
      stream.avail_out = static_cast<uInt>(output.size());
      const int result = inflate(&stream, Z_NO_FLUSH);
      total += output.size() - stream.avail_out;
      if (result == Z_STREAM_END) {
        inflateReset(&stream);
      } else if (result != Z_OK) {
        break;
      }
    }
    inflateEnd(&stream);
    ::close(descriptor);
  }
  Finish(state, total);
}

BENCHMARK(BM_PlainFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenInputSourcePlain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenInputSourceGzip, one_member, &BenchFiles::one_member)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenInputSourceGzip, members_of_64kb, &BenchFiles::many_members)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ZlibInflate, one_member, &BenchFiles::one_member)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ZlibInflate, members_of_64kb, &BenchFiles::many_members)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
