#include "sitecount/sitecount.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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
      {{"peaks.fa", "motifs.mot", "t.tab", "1"}, 0,
       "SeqSet fload\nMotifSet fload\nMots presence calculation\n", "",
       "Peak score\tLn(Peak score)\tGATC\tACGT\n12.5\t2.52573\t2\t1\n\t0\t0\n"},
      {{"missing.fa", "motifs.mot", "t.tab", "1"}, 1, "SeqSet fload\n",
       "Can't open missing.fa file.\n", nullptr},
      {{"peaks.fa", "bad.mot", "t.tab", "0"}, 1, "SeqSet fload\nMotifSet fload\n",
       "bad.mot:2: motif 'AUC' holds 'U' at position 2, which is not an IUPAC symbol (one of "
       "ATGCRYMKWSBVHDN-+)\n",
       nullptr},
      {{"peaks.fa", "motifs.mot", "./peaks.fa", "0"}, 1, "SeqSet fload\nMotifSet fload\n",
       "./peaks.fa: is the input file peaks.fa; refusing to overwrite it, choose another output "
       "file\n",
       nullptr},
      {{"peaks.fa", "motifs.mot", "no/t.tab", "0"}, 1, "SeqSet fload\nMotifSet fload\n",
       "Can't open no/t.tab file.\n", nullptr},
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
