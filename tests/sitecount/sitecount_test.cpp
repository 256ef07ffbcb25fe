#include "sitecount/sitecount.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "motifs/motif_set.h"
#include "sequences/fasta_reader.h"
#include "sitecount/piece_counters.h"
#include "sitecount/presence_format.h"
#include "sitecount/presence_rows.h"
#include "tests/support/temp_dir.h"

namespace {

using test_support::ReadFile;
using test_support::WriteFile;

class RunSitecountInProcess : public test_support::TempFolderTest {};

TEST_F(RunSitecountInProcess, WritesTheTableOrReportsAndReturnsOne) {
  const test_support::ScopedWorkingDir in_folder(Folder());
  WriteFile("peaks.fa", ">p1\tpeak_1\t12.5\nACGTTTGATC\nNNGATC\n>p2 no score\nCC\n");
  WriteFile("motifs.mot", "GATC\t0\t0\t0\nacgt\t1\t2\t3\n");
  WriteFile("bad.mot", "GATC\t0\t0\t0\nAUC\t0\t0\t0\n");
  const struct {
    std::vector<std::string> args;
    int exit_code;
    const char* out;
    const char* err;
    const char* table;  // null: t.tab must not exist
  } cases[] = {
      {{"peaks.fa", "motifs.mot", "t.tab", "1"},
       0,
       "SeqSet fload\nMotifSet fload\nMots presence calculation\n",
       "",
       "Peak score\tLn(Peak score)\tGATC\tACGT\n12.5\t2.52573\t2\t1\n\t0\t0\n"},
      {{"missing.fa", "motifs.mot", "t.tab", "1"},
       1,
       "SeqSet fload\n",
       "Can't open missing.fa file.\n",
       nullptr},
      {{"peaks.fa", "bad.mot", "t.tab", "0"},
       1,
       "SeqSet fload\nMotifSet fload\n",
       "bad.mot:2: motif 'AUC' holds 'U' at position 2, which is not an IUPAC symbol (one of "
       "ATGCRYMKWSBVHDN-+)\n",
       nullptr},
      {{"peaks.fa", "motifs.mot", "./peaks.fa", "0"},
       1,
       "SeqSet fload\nMotifSet fload\n",
       "./peaks.fa: is the input file peaks.fa; refusing to overwrite it, choose another output "
       "file\n",
       nullptr},
      {{"peaks.fa", "motifs.mot", "no/t.tab", "0"},
       1,
       "SeqSet fload\nMotifSet fload\n",
       "Can't open no/t.tab file.\n",
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args[2]);
    std::filesystem::remove("t.tab");
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int exit_code = RunSitecount(c.args);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.out);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(exit_code, c.exit_code);
    if (c.table != nullptr) {
      EXPECT_EQ(ReadFile("t.tab"), c.table);
    } else {
      EXPECT_FALSE(std::filesystem::exists("t.tab"));
    }
  }
}

}  // namespace

namespace {

// Rows made the plain way: each whole record, each motif on its own.
std::string ReferenceRows(const std::string& fasta, const MotifSet& motifs, int format) {
  MotifSet copy = motifs;
  MemorySource source(fasta);
  FastaReader reader(source);
  FastaRecord record;
  std::string text;
  while (reader.Next(record)) {
    std::vector<std::uint64_t> counts;
    for (IUPAC_Motif& motif : copy.motifs) {
      counts.push_back(motif.CountOccurrences(record.codes, MOTORIENT_ANY));
    }
    AppendPresenceRow(text, record.header, counts, format);
  }
  return text;
}

TEST(WritePresenceRows, PiecesBatchesAndThreadsNeverChangeTheRows) {
  std::mt19937 random(11);
  const std::string letters = "ACGTACGTACGTNRY-+acgtn \r*";
  std::string fasta = "junk\n";
  for (int record = 0; record < 40; ++record) {
    fasta += ">r" + std::to_string(record) + "\tx\t" + std::to_string(record % 7) + ".5\n";
    // Mostly short records, some far longer than a piece.
    const int length = record % 9 == 4 ? 3000 + static_cast<int>(random() % 2000)
                                       : static_cast<int>(random() % 80);
    for (int i = 0; i < length; ++i) {
      fasta += letters[random() % letters.size()];
      if (random() % 50 == 0) fasta += '\n';
    }
    fasta += '\n';
  }
  std::istringstream motif_lines("ACGT\nGATC\nRYN\nAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\nTG-A\nN\n");
  MotifSet motifs;
  ASSERT_FALSE(ReadMotifs(motif_lines, motifs).has_value());

  const MotifCountEngine engines[] = {
      {motifs, MotifKernel::kScalar}, {motifs, MotifKernel::kAvx2}, {motifs, MotifKernel::kAvx512}};
  for (const int format : {0, 1, 2}) {
    const std::string expected = ReferenceRows(fasta, motifs, format);
    for (const std::size_t threads : {1, 3}) {
      for (const std::size_t piece : {1, 200, 1 << 20}) {
        for (const std::size_t batch_records : {1, 5, 1024}) {
          SCOPED_TRACE(::testing::Message() << "format " << format << ", threads " << threads
                                            << ", piece " << piece << ", batch " << batch_records);
          PresenceSettings settings;
          settings.output_format = format;
          settings.motif_count = motifs.count;
          settings.longest_motif = 30;
          settings.threads = threads;
          settings.piece_residues = piece;
          settings.batch_residues = piece * 3;
          settings.batch_records = batch_records;
          settings.make_counter = [&motifs] { return MakePairwiseCounter(motifs); };
          // The reference counter, then the engine in each kernel the processor has.
          for (std::size_t engine = 0; engine <= std::size(engines); ++engine) {
            if (engine > 0) {
              settings.make_counter = [&engines, engine] {
                return MakeEngineCounter(engines[engine - 1]);
              };
            }
            MemorySource source(fasta);
            FastaReader reader(source);
            std::ostringstream out;
            EXPECT_EQ(WritePresenceRows(reader, settings, out).status,
                      PresenceOutcome::Status::kDone);
            EXPECT_EQ(out.str(), expected) << "counter " << engine;
          }
        }
      }
    }
  }
}

// A batch holds as many pieces as its count bytes allow, one at least: at one piece a
// batch, a long record is carried through many batches, and the rows stay those of one
// thread whatever the threads. Ambiguity codes send some pieces to the engine of every
// motif, which the counting threads then build on demand, several at once.
TEST(WritePresenceRows, BatchesBoundByCountBytesKeepTheRows) {
  std::mt19937 random(5);
  const std::string letters = "ACGTACGTACGTACGTACGTNRY";
  std::string fasta;
  for (int record = 0; record < 30; ++record) {
    fasta += ">r" + std::to_string(record) + "\tx\t" + std::to_string(record + 1) + "\n";
    const int length = record % 7 == 3 ? 900 : static_cast<int>(random() % 120);
    for (int i = 0; i < length; ++i) fasta += letters[random() % letters.size()];
    fasta += '\n';
  }
  std::istringstream motif_lines("GATC\nACGTACGT\nCANNTG\nRYN\nAAAAAAAAAAAA\nGAATTC\n");
  MotifSet motifs;
  ASSERT_FALSE(ReadMotifs(motif_lines, motifs).has_value());
  const std::size_t piece_bytes = motifs.motifs.size() * sizeof(std::uint32_t);
  const std::string expected = ReferenceRows(fasta, motifs, 1);
  for (const std::size_t count_bytes :
       {std::size_t{0}, piece_bytes, 2 * piece_bytes - 1, 2 * piece_bytes, 7 * piece_bytes}) {
    for (const std::size_t threads : {1, 2, 4}) {
      SCOPED_TRACE(::testing::Message()
                   << "count bytes " << count_bytes << ", threads " << threads);
      PresenceSettings settings;
      settings.motif_count = motifs.motifs.size();
      settings.longest_motif = 12;
      settings.threads = threads;
      settings.piece_residues = 60;
      settings.batch_count_bytes = count_bytes;
      settings.make_counter = MakeCounterFactory(motifs, CountingPath::kBest);
      MemorySource source(fasta);
      FastaReader reader(source);
      std::ostringstream out;
      EXPECT_EQ(WritePresenceRows(reader, settings, out).status, PresenceOutcome::Status::kDone);
      EXPECT_EQ(out.str(), expected);
    }
  }
}

// A failure on one thread, a write that fails or a counter out of memory, ends the run on
// every thread with its status, wherever the batches stood; none waits for the others.
TEST(WritePresenceRows, AFailureOnOneThreadStopsEveryThread) {
  // Fails every write once `room` bytes have gone through.
  class FullBuffer : public std::streambuf {
   public:
    explicit FullBuffer(std::size_t room) : room_(room) {}

   protected:
    std::streamsize xsputn(const char*, std::streamsize count) override {
      if (static_cast<std::size_t>(count) > room_) return 0;
      room_ -= static_cast<std::size_t>(count);
      return count;
    }
    int_type overflow(int_type) override {
      return xsputn(nullptr, 1) == 1 ? 0 : traits_type::eof();
    }

   private:
    std::size_t room_;
  };
  // Runs out of memory at the `failing`th piece that any thread counts.
  class FailingCounter : public PieceCounter {
   public:
    FailingCounter(std::atomic<int>& pieces, int failing) : pieces_(pieces), failing_(failing) {}
    void Count(std::span<const std::uint8_t>, std::size_t, std::span<std::uint64_t>) override {
      if (++pieces_ == failing_) throw std::bad_alloc();
    }

   private:
    std::atomic<int>& pieces_;
    int failing_;
  };
  std::string fasta;
  for (int record = 0; record < 3000; ++record) fasta += ">r\tx\t1\nACGTACGTAC\n";
  for (const std::size_t threads : {2, 3, 8}) {
    for (const int failing : {1, 700, 2999}) {
      SCOPED_TRACE(::testing::Message() << threads << " threads, failing at " << failing);
      std::atomic<int> pieces{0};
      PresenceSettings settings;
      settings.motif_count = 1;
      settings.longest_motif = 4;
      settings.threads = threads;
      settings.make_counter = [&] { return std::make_unique<FailingCounter>(pieces, failing); };
      MemorySource source(fasta);
      FastaReader reader(source);
      std::ostringstream out;
      EXPECT_EQ(WritePresenceRows(reader, settings, out).status,
                PresenceOutcome::Status::kOutOfMemory);

      settings.make_counter = [&] { return std::make_unique<FailingCounter>(pieces, 0); };
      FullBuffer full(static_cast<std::size_t>(failing) * 2);  // rows are 6 bytes
      std::ostream full_out(&full);
      MemorySource again(fasta);
      FastaReader again_reader(again);
      EXPECT_EQ(WritePresenceRows(again_reader, settings, full_out).status,
                PresenceOutcome::Status::kWriteFailed);
    }
  }
}

TEST(CountingPath, ParsedFromTheKernelVariableAndEveryPathCountsAlike) {
  const std::pair<const char*, CountingPath> cases[] = {
      {"scalar", CountingPath::kScalar}, {"avx2", CountingPath::kAvx2},
      {"avx512", CountingPath::kAvx512}, {"pairwise", CountingPath::kPairwise},
      {nullptr, CountingPath::kBest},    {"", CountingPath::kBest},
      {"AVX2", CountingPath::kBest},     {"scalar ", CountingPath::kBest},
      {"anchor", CountingPath::kAnchor}, {"table", CountingPath::kTable}};
  MotifSet motifs;
  std::istringstream motif_lines("ACGT\nGATC\nRYN\n");
  ASSERT_FALSE(ReadMotifs(motif_lines, motifs).has_value());
  const std::vector<std::uint8_t> codes = {0, 3, 2, 1, 2, 0, 1, 3, 16, 0, 3, 2, 1};
  for (const auto& [value, path] : cases) {
    EXPECT_EQ(ParseCountingPath(value), path) << (value ? value : "unset");
    std::vector<std::uint64_t> counts(3, 0);
    MakeCounterFactory(motifs, path)()->Count(codes, codes.size(), counts);
    EXPECT_EQ(counts, (std::vector<std::uint64_t>{2, 1, 7})) << (value ? value : "unset");
  }
}

// Random motif sets (every symbol, palindromes, runs of N, anchors that collide) on random
// pieces, some holding ambiguity codes: every path counts what the per-pair reference does.
TEST(CountingPath, EveryPathAgreesWithTheReferenceOnRandomMotifsAndPieces) {
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> roll(0, 99);
  std::uniform_int_distribution<int> base(0, 3);
  std::uniform_int_distribution<int> symbol(0, 16);
  const auto word = [&](std::size_t length) {
    std::string letters;
    for (std::size_t position = 0; position < length; ++position) {
      letters += NucleotideLetters[static_cast<std::size_t>(roll(random) < 80 ? base(random)
                                                                              : symbol(random))];
    }
    return letters;
  };
  for (int round = 0; round < 12; ++round) {
    std::string lines = "NNNN\nGAATTC\nGAATTCA\nACGTACGTAC\n";
    for (int index = 0; index < 80; ++index) {
      lines += word(1 + static_cast<std::size_t>(roll(random)) % (round % 2 == 0 ? 12 : 40));
      lines += '\n';
    }
    MotifSet motifs;
    std::istringstream motif_lines(lines);
    ASSERT_FALSE(ReadMotifs(motif_lines, motifs).has_value());
    std::vector<std::uint8_t> codes(1 + static_cast<std::size_t>(random() % 2000));
    const bool ambiguous = round % 3 == 0;
    for (std::uint8_t& code : codes) {
      const int kind = roll(random);
      code = static_cast<std::uint8_t>(kind < 90                 ? base(random)
                                       : kind < 95 || !ambiguous ? 16
                                                                 : symbol(random));
    }
    const std::size_t start_limit =
        codes.size() - static_cast<std::size_t>(random() % 30) % codes.size();
    std::vector<std::uint64_t> expected(motifs.motifs.size(), 0);
    MakeCounterFactory(motifs, CountingPath::kPairwise)()->Count(codes, start_limit, expected);
    for (const CountingPath path :
         {CountingPath::kBest, CountingPath::kAnchor, CountingPath::kTable, CountingPath::kScalar,
          CountingPath::kAvx2}) {
      std::vector<std::uint64_t> counts(motifs.motifs.size(), 0);
      MakeCounterFactory(motifs, path)()->Count(codes, start_limit, counts);
      ASSERT_EQ(counts, expected) << "round " << round << ", path " << static_cast<int>(path);
    }
  }
}

}  // namespace
