#include "scorefit/scorefit.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "common/diagnostics.h"
#include "common/files.h"
#include "common/input_source.h"
#include "common/output_file.h"
#include "common/program.h"
#include "common/table_utils.h"
#include "scorefit/coefficient_table.h"
#include "scorefit/prediction_table.h"

namespace {

void WriteUsage(std::ostream& out) {
  out << "Program for multiple regression estimation. " << std::endl
      << "Program gets [Coeffs.tab] [Sitecount.tab] [Output file] " << std::endl;
}

// A refusal before anything is written: the file that the message names, and the message.
struct Refusal {
  std::string file_name;
  std::string what;
};

// Stops a run that would overwrite one of its inputs, read the coefficient dump as an
// input, or replace the dump with the prediction table.
std::optional<Refusal> OverwriteRefusal(const std::string& coefficient_name,
                                        const std::string& presence_name,
                                        const std::string& output_name) {
  if (IsStandardInput(coefficient_name) && IsStandardInput(presence_name)) {
    return Refusal{presence_name, StandardInputTwiceText("tables")};
  }
  // "-" is compared too: standard input redirected from a file is that file.
  for (const std::string* input_name : {&coefficient_name, &presence_name}) {
    if (auto problem = OverwritesInput(output_name, *input_name)) {
      return Refusal{output_name, *problem};
    }
  }
  for (const std::string* input_name : {&coefficient_name, &presence_name}) {
    if (InputIsFile(*input_name, kCoefficientDumpName)) {
      return Refusal{*input_name, std::string("this input is the coefficient dump ") +
                                      kCoefficientDumpName +
                                      " of the working directory, which every run rewrites; "
                                      "rename it or run in another directory"};
    }
  }
  if (SameDestination(output_name, kCoefficientDumpName)) {
    return Refusal{output_name, std::string("would replace the coefficient dump ") +
                                    kCoefficientDumpName +
                                    " that this run writes; choose another output file"};
  }
  return std::nullopt;
}

// Opens a table ("-" standard input, gzip data decompressed); null after its message when
// it cannot be opened or is compressed in a format that is not read.
std::unique_ptr<ByteSource> OpenTable(const std::string& file_name) {
  std::string problem;
  std::unique_ptr<ByteSource> source = OpenInputSource(file_name, problem);
  if (source == nullptr) {
    if (problem.empty()) {
      PrintOpenFailure(file_name);
    } else {
      PrintBadInput(file_name, problem);
    }
  }
  return source;
}

// Reads the coefficient table into `b`; false after its message when it cannot be opened
// or read.
bool LoadCoefficients(const std::string& file_name, std::vector<double>& b) {
  const std::unique_ptr<ByteSource> source = OpenTable(file_name);
  if (source == nullptr) return false;
  SourceStream in(*source);
  const auto error = ReadCoefficientTable(in, b);
  // A read that failed (damaged compressed data, binary data) stopped the reading short:
  // that is the problem, whatever the table held up to there.
  if (in.failed()) {
    PrintReadProblem(file_name, *source);
    return false;
  }
  if (error) {
    PrintBadInput(file_name, *error);
    return false;
  }
  return true;
}

// Reports how a prediction pass that did not finish ended.
void ReportPredictionFailure(const PredictionOutcome& outcome, const ByteSource& presence,
                             const std::string& presence_name, const std::string& output_name,
                             std::size_t coefficient_count) {
  using Status = PredictionOutcome::Status;
  switch (outcome.status) {
    case Status::kBadRow:
      PrintBadInput(presence_name, outcome.line_number,
                    TooManyFieldsText(outcome.field_count, coefficient_count));
      return;
    case Status::kReadFailed:
      PrintReadProblem(presence_name, presence);
      return;
    case Status::kOutOfMemory:
      PrintOutOfMemoryAtLine(presence_name, outcome.line_number);
      return;
    case Status::kNoIntercept:
    case Status::kWriteFailed:
    case Status::kDone:
      PrintWriteFailed(output_name);
      return;
  }
}

constexpr ProgramOption kOptions[] = {
    {"-j", "--threads", "N", "prediction threads (default: 2, or 1 on one processor)", true},
};

// Rows are predicted on two threads where there are two processors: the prediction is
// cheap beside the reading and writing, which a third would not speed up.
std::size_t PredictionThreads(const ProgramOptions& options) {
  return RequestedThreads(options, nullptr,
                          std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 2));
}

int PredictScores(const std::vector<std::string>& args, const ProgramOptions& options,
                  RunPlace& place) {
  const std::string& coefficient_name = args[0];
  const std::string& presence_name = args[1];
  const std::string& output_name = args[2];
  if (const auto refusal = OverwriteRefusal(coefficient_name, presence_name, output_name)) {
    PrintBadInput(refusal->file_name, refusal->what);
    return 1;
  }

  ProgressStream() << "Coeffs fload" << std::endl;
  std::vector<double> b;
  if (!LoadCoefficients(coefficient_name, b)) return 1;

  WriteDoubleVector(b, kCoefficientDumpName);

  ProgressStream() << "Sitecount fload and calc" << std::endl;
  place.file_name = &presence_name;
  const std::unique_ptr<ByteSource> presence = OpenTable(presence_name);
  if (presence == nullptr) return 1;
  OutputFile output;
  if (!output.Open(output_name)) {
    PrintOpenFailure(output_name);
    return 1;
  }
  const PredictionOutcome outcome =
      WritePredictionTable(*presence, b, output.stream(), PredictionThreads(options),
                           RowScanPathFromName(std::getenv("SCOREFIT_KERNEL")));
  if (outcome.status != PredictionOutcome::Status::kDone) {
    ReportPredictionFailure(outcome, *presence, presence_name, output_name, b.size());
    return 1;
  }
  if (!output.Commit()) {
    PrintWriteFailed(output_name);
    return 1;
  }
  return 0;
}

}  // namespace

int RunScorefit(const std::vector<std::string>& args) {
  static constexpr ProgramFace kFace{"Scorefit", WriteUsage, 3, kOptions, 2};
  return RunProgram(kFace, args, PredictScores);
}
