#include "sitecount/sitecount.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>

#include "common/byte_source.h"
#include "common/diagnostics.h"
#include "common/files.h"
#include "common/number_text.h"
#include "motifs/motif_set.h"
#include "sequences/dna_sequence.h"

namespace {

constexpr int kFormatPresence = 0;
constexpr int kFormatCount = 1;

void PrintUsage(std::ostream& out) {
  out << "Program for estimation of motifs presence. " << std::endl;
  out << "Program gets [SeqSet.fst] [.mot file] [Output file] [Output format (0\\1)]"
      << std::endl;
}

void WriteHeader(std::ostream& out, const MotifSet& motif_set) {
  out << "Peak score\tLn(Peak score)";
  for (const IUPAC_Motif& motif : motif_set.motifs) out << '\t' << motif.MotifString(0, 0);
  out << std::endl;
}

// The score columns come from the text after the header's last tab; a header without a
// tab has none. A score that is not a number is written as nan in both columns.
void WriteScoreColumns(std::ostream& out, const std::string& descr) {
  const std::size_t last_tab = descr.rfind('\t');
  if (last_tab == std::string::npos) return;
  const double score = StringToDouble(std::string_view(descr).substr(last_tab));
  out << score << '\t' << std::log(score);
}

void WriteRow(std::ostream& out, const DNA_Sequence& sequence, MotifSet& motif_set,
              int output_format) {
  WriteScoreColumns(out, sequence.descr);
  for (IUPAC_Motif& motif : motif_set.motifs) {
    const std::uint32_t occurrences = motif.CountOccurrences(sequence.codes, MOTORIENT_ANY);
    out << '\t';
    if (occurrences == 0) {
      out << '0';
    } else if (output_format == kFormatPresence) {
      out << '1';
    } else if (output_format == kFormatCount) {
      out << occurrences;
    }
  }
  out << std::endl;
}

// Reads the motif file into `motif_set`; false, after its message, when the file cannot be
// opened or holds a malformed motif line.
bool LoadMotifs(const std::string& file_name, MotifSet& motif_set) {
  std::ifstream in;
  if (!OpenForReading(in, file_name)) {
    PrintCannotOpen(file_name);
    return false;
  }
  if (const auto error = ReadMotifs(in, motif_set)) {
    PrintBadInput(file_name, *error);
    return false;
  }
  motif_set.name = file_name;
  return true;
}

}  // namespace

int RunSitecount(const std::vector<std::string>& args) {
  if (args.empty()) {
    PrintUsage(std::cout);
    return 0;
  }
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    PrintUsage(std::cout);
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::cout << "Sitecount " << MOTIF_WORKFLOW_VERSION << std::endl;
    return 0;
  }
  if (args.size() < 4) {
    PrintUsage(std::cerr);
    return 1;
  }

  const std::string& nameSeqSet = args[0];
  const std::string& nameMots = args[1];
  const std::string& nameFileOut = args[2];
  const int output_format = std::atoi(args[3].c_str());

  std::cout << "SeqSet fload" << std::endl;
  const std::unique_ptr<ByteSource> sequence_source = OpenFileSource(nameSeqSet);
  if (sequence_source == nullptr) {
    PrintCannotOpen(nameSeqSet);
    return 1;
  }
  SeqSet Seqs;
  ReadFastaInto(*sequence_source, Seqs);

  std::cout << "MotifSet fload" << std::endl;
  MotifSet MotSet;
  if (!LoadMotifs(nameMots, MotSet)) return 1;

  for (const std::string* input_name : {&nameSeqSet, &nameMots}) {
    if (const auto problem = OverwritesInput(nameFileOut, *input_name)) {
      PrintBadInput(nameFileOut, *problem);
      return 1;
    }
  }
  std::ofstream fout(nameFileOut);
  if (!fout) {
    PrintCannotOpen(nameFileOut);
    return 1;
  }

  WriteHeader(fout, MotSet);
  std::cout << "Mots presence calculation" << std::endl;
  for (const DNA_Sequence& sequence : Seqs.sequences) {
    WriteRow(fout, sequence, MotSet, output_format);
  }
  fout.close();
  if (!fout) {
    PrintWriteFailed(nameFileOut);
    return 1;
  }
  return 0;
}
