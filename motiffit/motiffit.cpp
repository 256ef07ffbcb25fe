#include "motiffit/motiffit.h"

#include <iostream>
#include <memory>

#include "common/diagnostics.h"
#include "common/files.h"
#include "common/input_source.h"
#include "common/output_file.h"
#include "common/program.h"
#include "motiffit/presence_fit.h"

namespace {

void WriteUsage(std::ostream& out) {
  out << "Program for least-squares fit of Ln(Peak score) on motif counts." << std::endl
      << "Program gets [Sitecount.tab] [Coeffs.tab]" << std::endl;
}

int FitScores(const std::vector<std::string>& args, RunPlace& place) {
  const std::string& presence_name = args[0];
  const std::string& coefficient_name = args[1];
  // Running out of memory (a header of very many columns) is reported as a failed fit.
  place.activity = "fitting";
  // Checked before anything is opened: a FIFO named as both would leave the run waiting.
  if (const auto problem = OverwritesInput(coefficient_name, presence_name)) {
    PrintBadInput(coefficient_name, *problem);
    return 1;
  }

  std::cout << "Sitecount fload and fit" << std::endl;
  std::string problem;
  const std::unique_ptr<ByteSource> source = OpenInputSource(presence_name, problem);
  if (source == nullptr) {
    if (problem.empty()) {
      PrintCannotOpen(presence_name);
    } else {
      PrintBadInput(presence_name, problem);
    }
    return 1;
  }
  const PresenceFit table = FitPresenceTable(*source);
  if (table.status == PresenceFit::Status::kReadFailed) {
    PrintReadProblem(presence_name, *source);
    return 1;
  }
  if (table.status != PresenceFit::Status::kDone) {
    PrintBadInput(presence_name, table.line_number, ProblemText(table));
    return 1;
  }

  std::cout << "Coeffs write" << std::endl;
  OutputFile output;
  if (!output.Open(coefficient_name)) {
    PrintCannotOpen(coefficient_name);
    return 1;
  }
  WriteCoefficientTable(table, output.stream());
  if (!output.Commit()) {
    PrintWriteFailed(coefficient_name);
    return 1;
  }
  return 0;
}

}  // namespace

int RunMotiffit(const std::vector<std::string>& args) {
  static constexpr ProgramFace kFace{"Motiffit", WriteUsage, 2};
  return RunProgram(kFace, args, FitScores);
}
