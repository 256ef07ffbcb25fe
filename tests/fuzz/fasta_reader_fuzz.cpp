// FastaReader on arbitrary bytes, read whole and in pieces with AtRecordEnd (over a source
// that hands out one or a few bytes per read, every third record skipped after its first
// piece), both compared with a line-by-line model of the format.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "common/byte_source.h"
#include "common/nucleotide.h"
#include "sequences/fasta_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The records as the format defines them, one line at a time: a line starting with '>' is
// a header, kept verbatim without its line feed; the residue symbols of the lines after it
// are its codes; text before the first header belongs to no record.
std::vector<FastaRecord> ModelRecords(std::string_view bytes) {
  std::vector<FastaRecord> records;
  std::size_t position = 0;
  while (position < bytes.size()) {
    const std::size_t line_feed = bytes.find('\n', position);
    const std::size_t end = line_feed == std::string_view::npos ? bytes.size() : line_feed;
    const std::string_view line = bytes.substr(position, end - position);
    if (!line.empty() && line.front() == '>') {
      records.push_back(FastaRecord{std::string(line), {}});
    } else if (!records.empty()) {
      for (const char c : line) {
        const NucleotideCode code = CharToNucleotideCode(c);
        if (code < kNotNucleotide) records.back().codes.push_back(code);
      }
    }
    position = end + 1;
  }
  return records;
}

void RequireValidCodes(const std::vector<NucleotideCode>& codes) {
  for (const NucleotideCode code : codes) {
    Require(code >= 0 && code < kNucleotideSymbolCount, "every code is 0 to 16");
  }
}

void RequireExhausted(FastaReader& reader) {
  std::string header;
  std::vector<NucleotideCode> codes;
  Require(!reader.NextHeader(header), "no record after the last one");
  Require(reader.AtRecordEnd(), "the end of the input is a record end");
  Require(reader.AppendResidues(codes, 8) == 0 && codes.empty(), "no residue after the end");
  Require(!reader.failed(), "a memory source never fails");
}

void ReadWhole(std::string_view bytes, const std::vector<FastaRecord>& model) {
  MemorySource source(bytes);
  FastaReader reader(source);
  FastaRecord record;
  for (const FastaRecord& expected : model) {
    Require(reader.Next(record), "every record is read whole");
    Require(!record.header.empty() && record.header.front() == '>', "header starts with '>'");
    Require(record.header.find('\n') == std::string::npos, "header holds no line feed");
    RequireValidCodes(record.codes);
    Require(record.header == expected.header, "whole: header as in the input");
    Require(record.codes == expected.codes, "whole: residues as in the input");
  }
  Require(!reader.Next(record), "whole: no record after the last one");
  RequireExhausted(reader);
}

// Takes the records in pieces of at most `piece` codes, asking AtRecordEnd before each.
// Of every third record, from the `skipped` one on, only the first piece is taken: the
// next NextHeader skips the rest.
void ReadInPieces(ByteSource& source, std::size_t piece, std::size_t skipped,
                  const std::vector<FastaRecord>& model) {
  FastaReader reader(source);
  std::string header;
  std::vector<NucleotideCode> codes;
  for (std::size_t index = 0; index < model.size(); ++index) {
    const FastaRecord& expected = model[index];
    Require(reader.NextHeader(header), "pieces: every header is found");
    Require(header == expected.header, "pieces: header as in the input");
    codes.clear();
    if (index % 3 == skipped) {
      reader.AppendResidues(codes, piece);
      Require(codes.size() <= expected.codes.size() &&
                  std::equal(codes.begin(), codes.end(), expected.codes.begin()),
              "skipping: the piece taken starts the record");
      continue;
    }
    for (;;) {
      const bool at_end = reader.AtRecordEnd();
      const std::size_t before = codes.size();
      const std::size_t got = reader.AppendResidues(codes, piece);
      Require(got <= piece, "a piece holds at most its limit");
      Require(codes.size() == before + got, "AppendResidues returns what it appended");
      if (at_end) {
        Require(got == 0, "nothing follows a record end");
        break;
      }
      Require(got > 0, "a record that has not ended gives a residue");
    }
    RequireValidCodes(codes);
    Require(codes == expected.codes, "pieces: the same residues as read whole");
  }
  RequireExhausted(reader);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<FastaRecord> model = ModelRecords(bytes);
  ReadWhole(bytes, model);
  // Every reader takes a block of its own, which makes readers the main cost under the
  // sanitizers: one piecewise pass per input, its read and piece sizes and the records it
  // skips chosen by the input's size.
  constexpr std::size_t kReadSizes[] = {1, 2, 5, 4096};
  constexpr std::size_t kPieceSizes[] = {1, 2, 3, std::numeric_limits<std::size_t>::max()};
  ChunkedSource source(bytes, kReadSizes[size % 4]);
  ReadInPieces(source, kPieceSizes[size / 4 % 4], size % 3, model);
  return 0;
}
