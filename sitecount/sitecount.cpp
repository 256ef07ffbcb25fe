#include "sitecount/sitecount.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <thread>

#include "common/byte_source.h"
#include "common/diagnostics.h"
#include "common/files.h"
#include "common/input_source.h"
#include "common/output_file.h"
#include "common/program.h"
#include "motifs/motif_set.h"
#include "sequences/fasta_reader.h"
#include "sitecount/piece_counters.h"
#include "sitecount/presence_rows.h"
#include "sitecount/progress_line.h"

namespace {

void PrintUsage(std::ostream& out) {
  out << "Program for estimation of motifs presence. " << std::endl;
  out << "Program gets [SeqSet.fst] [.mot file] [Output file] [Output format (0\\1)]" << std::endl;
}

void WriteHeader(std::ostream& out, const MotifSet& motif_set) {
  out << "Peak score\tLn(Peak score)";
  for (const IUPAC_Motif& motif : motif_set.motifs) out << '\t' << motif.MotifString(0, 0);
  out << std::endl;
}

constexpr ProgramOption kOptions[] = {
    {"-j", "--threads", "N",
     "counting threads (default: SITECOUNT_THREADS, else one per processor)", true},
};

// Reads the motif file into `motif_set`; false, after its message, when the file cannot be
// opened or read as text, or holds a malformed motif line.
bool LoadMotifs(const std::string& file_name, MotifSet& motif_set) {
  std::string problem;
  const std::unique_ptr<ByteSource> source = OpenInputSource(file_name, problem);
  if (source == nullptr) {
    if (problem.empty()) {
      PrintCannotOpen(file_name);
    } else {
      PrintBadInput(file_name, problem);
    }
    return false;
  }
  SourceStream in(*source);
  const auto error = ReadMotifs(in, motif_set);
  if (error) {
    PrintBadInput(file_name, *error);
    return false;
  }
  if (in.failed()) {
    PrintReadProblem(file_name, *source);
    return false;
  }
  motif_set.name = file_name;
  return true;
}

// The run proper, from the loading of the inputs to the finished table; `place` names the
// file being read at each point.
int CountPresence(const std::vector<std::string>& args, const ProgramOptions& options,
                  RunPlace& place) {
  const std::string& nameSeqSet = args[0];
  const std::string& nameMots = args[1];
  const std::string& nameFileOut = args[2];
  const int output_format = std::atoi(args[3].c_str());

  // Standard input holds one input, read once.
  if (IsStandardInput(nameSeqSet) && IsStandardInput(nameMots)) {
    PrintBadInput(nameMots, StandardInputTwiceText("inputs"));
    return 1;
  }
  // A FIFO named as an input and as the output would leave the run waiting on itself: it
  // is refused before anything is opened.
  if (IsSpecialFile(nameFileOut)) {
    for (const std::string* input_name : {&nameSeqSet, &nameMots}) {
      if (!IsStandardInput(*input_name) && SameExistingFile(nameFileOut, *input_name)) {
        PrintBadInput(nameFileOut, *OverwritesInput(nameFileOut, *input_name));
        return 1;
      }
    }
  }

  ProgressStream() << "SeqSet fload" << std::endl;
  // "-" is standard input; gzip data is decompressed as it is read, recognised by its
  // first bytes. The stored bytes are counted for the progress line.
  std::unique_ptr<ByteSource> stored = OpenRawInput(nameSeqSet);
  if (stored == nullptr) {
    PrintCannotOpen(nameSeqSet);
    return 1;
  }
  auto counting = std::make_unique<CountingSource>(std::move(stored));
  const CountingSource& stored_bytes = *counting;
  std::string problem;
  const std::unique_ptr<ByteSource> sequence_source =
      DecodeInputSource(std::move(counting), problem);
  if (sequence_source == nullptr) {
    PrintBadInput(nameSeqSet, problem);
    return 1;
  }
  FastaReader sequences(*sequence_source);

  ProgressStream() << "MotifSet fload" << std::endl;
  place.file_name = &nameMots;
  MotifSet MotSet;
  if (!LoadMotifs(nameMots, MotSet)) return 1;

  for (const std::string* input_name : {&nameSeqSet, &nameMots}) {
    if (const auto refusal = OverwritesInput(nameFileOut, *input_name)) {
      PrintBadInput(nameFileOut, *refusal);
      return 1;
    }
  }
  OutputFile table;
  if (!table.Open(nameFileOut)) {
    PrintCannotOpen(nameFileOut);
    return 1;
  }
  std::ostream& fout = table.stream();

  place.file_name = &nameSeqSet;
  WriteHeader(fout, MotSet);
  ProgressStream() << "Mots presence calculation" << std::endl;
  PresenceSettings settings;
  settings.output_format = output_format;
  settings.motif_count = MotSet.motifs.size();
  for (const IUPAC_Motif& motif : MotSet.motifs) {
    settings.longest_motif = std::max(settings.longest_motif, motif.codes.size());
  }
  settings.threads = RequestedThreads(options, "SITECOUNT_THREADS",
                                      std::max(1u, std::thread::hardware_concurrency()));
  // SITECOUNT_KERNEL forces a counting path (a kernel of the engine, the anchor index, or
  // the per-pair reference), so that one machine can test them all.
  settings.make_counter =
      MakeCounterFactory(MotSet, ParseCountingPath(std::getenv("SITECOUNT_KERNEL")));
  PresenceProgress progress;
  settings.progress = &progress;
  PresenceOutcome outcome;
  {
    const ProgressLine progress_line(progress, stored_bytes, RegularFileSize(nameSeqSet));
    outcome = WritePresenceRows(sequences, settings, fout);
  }
  using Status = PresenceOutcome::Status;
  if (outcome.status == Status::kOutOfMemory) {
    PrintOutOfMemoryAtRecord(nameSeqSet, outcome.record);
    return 1;
  }
  if (outcome.status == Status::kReadFailed) {
    // A read that failed (or compressed data that is damaged) would leave the table short
    // of records: no table rather than a wrong one.
    PrintReadProblem(nameSeqSet, *sequence_source);
    return 1;
  }
  if (outcome.status != Status::kDone || !table.Commit()) {
    PrintWriteFailed(nameFileOut);
    return 1;
  }
  return 0;
}

}  // namespace

int RunSitecount(const std::vector<std::string>& args) {
  static constexpr ProgramFace kFace{"Sitecount", PrintUsage, 4, kOptions, 2};
  return RunProgram(kFace, args, CountPresence);
}
