#include "motiffit/motiffit.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "common/diagnostics.h"
#include "common/files.h"
#include "common/input_source.h"
#include "common/output_file.h"
#include "common/program.h"
#include "motiffit/coefficient_output.h"
#include "motiffit/presence_fit.h"

namespace {

constexpr std::string_view kProgramName = "Motiffit";

void WriteUsage(std::ostream& out) {
  out << "Program for least-squares fit of Ln(Peak score) on motif counts." << std::endl
      << "Program gets [options] [Sitecount.tab] [Coeffs.tab]" << std::endl
      << "  --folds K        cross-validation folds, row i in fold i mod K (default 5; 1: none)"
      << std::endl
      << "  --penalty P      none (default), ridge, lasso or elastic" << std::endl
      << "  --alpha A        elastic-net mixing, 0 (ridge) to 1 (lasso); default 0.5" << std::endl
      << "  --lambda L       fixed penalty; default: least cross-validated error on a path"
      << std::endl
      << "  --one-se         the largest lambda within one standard error of the least error"
      << std::endl
      << "  --path FILE      write the lambda path with its cross-validated errors" << std::endl;
}

// The options and the two file names of a command line.
struct CommandLine {
  FitSettings settings;
  bool alpha_given = false;
  std::string path_name;
  std::vector<std::string> files;
};

// A number that the whole of `text` spells, or none.
std::optional<double> WholeNumber(const std::string& text) {
  double value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

// Reads the options before the file names; what is wrong, or empty.
std::string ParseCommandLine(const std::vector<std::string>& args, CommandLine& line) {
  std::size_t index = 0;
  while (index < args.size() && line.files.empty()) {
    std::string argument = args[index++];
    if (argument == "--") break;
    if (argument.size() < 2 || argument[0] != '-') {
      --index;
      break;
    }
    std::optional<std::string> attached;
    if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
      attached = argument.substr(equals + 1);
      argument.resize(equals);
    }
    if (argument == "--one-se") {
      if (attached) return "option --one-se takes no value";
      line.settings.penalty.one_standard_error = true;
      continue;
    }
    if (argument != "--folds" && argument != "--penalty" && argument != "--alpha" &&
        argument != "--lambda" && argument != "--path") {
      return "unknown option '" + Printable(argument) + "' (see Motiffit --help)";
    }
    if (!attached && index == args.size()) return "option " + argument + " needs a value";
    const std::string value = attached ? *attached : args[index++];
    if (argument == "--folds") {
      const std::optional<double> folds = WholeNumber(value);
      if (!folds || *folds < 1 || *folds > 1e6 || *folds != std::floor(*folds)) {
        return "--folds wants a whole number from 1 to 1000000, not '" + Printable(value) + "'";
      }
      line.settings.folds = static_cast<std::size_t>(*folds);
    } else if (argument == "--penalty") {
      if (value == "none") {
        line.settings.penalty.penalty = Penalty::kNone;
      } else if (value == "ridge") {
        line.settings.penalty.penalty = Penalty::kRidge;
      } else if (value == "lasso") {
        line.settings.penalty.penalty = Penalty::kLasso;
      } else if (value == "elastic") {
        line.settings.penalty.penalty = Penalty::kElastic;
      } else {
        return "--penalty wants none, ridge, lasso or elastic, not '" + Printable(value) + "'";
      }
    } else if (argument == "--alpha") {
      const std::optional<double> alpha = WholeNumber(value);
      if (!alpha || !(*alpha >= 0 && *alpha <= 1)) {
        return "--alpha wants a number from 0 to 1, not '" + Printable(value) + "'";
      }
      line.settings.penalty.alpha = *alpha;
      line.alpha_given = true;
    } else if (argument == "--lambda") {
      const std::optional<double> lambda = WholeNumber(value);
      if (!lambda || !(*lambda >= 0) || !std::isfinite(*lambda)) {
        return "--lambda wants a finite number of 0 or more, not '" + Printable(value) + "'";
      }
      line.settings.penalty.lambda = *lambda;
    } else {
      line.path_name = value;
    }
  }
  for (; index < args.size() && line.files.size() < 2; ++index) line.files.push_back(args[index]);

  PenaltySettings& penalty = line.settings.penalty;
  switch (penalty.penalty) {
    case Penalty::kNone:
      if (penalty.lambda || penalty.one_standard_error || line.alpha_given ||
          !line.path_name.empty()) {
        return "--alpha, --lambda, --one-se and --path need --penalty ridge, lasso or elastic";
      }
      break;
    case Penalty::kRidge:
    case Penalty::kLasso:
      if (line.alpha_given) return "--alpha goes with --penalty elastic only";
      penalty.alpha = penalty.penalty == Penalty::kRidge ? 0 : 1;
      break;
    case Penalty::kElastic:
      if (!line.alpha_given) penalty.alpha = 0.5;
      break;
  }
  if (penalty.penalty != Penalty::kNone && !penalty.lambda) {
    if (line.settings.folds < 2) {
      return "a penalised fit chooses lambda by cross-validation: give --folds 2 or more, "
             "or --lambda";
    }
  }
  if (penalty.lambda && (penalty.one_standard_error || !line.path_name.empty())) {
    return "--one-se and --path go with a lambda chosen by cross-validation, not --lambda";
  }
  return {};
}

constexpr ProgramOption kOptions[] = {
    {"-j", "--threads", "N", "threads (default: 2, or 1 on one processor)", true},
};

int FitScores(const std::vector<std::string>& args, const ProgramOptions& options,
              RunPlace& place) {
  CommandLine line;
  if (const std::string problem = ParseCommandLine(args, line); !problem.empty()) {
    PrintBadInput(std::string(kProgramName), problem);
    return 1;
  }
  if (line.files.size() < 2) {
    WriteUsage(std::cerr);
    return 1;
  }
  const std::string& presence_name = line.files[0];
  const std::string& coefficient_name = line.files[1];
  place.file_name = &presence_name;
  // Running out of memory (a header of very many columns) is reported as a failed fit.
  place.activity = "fitting";
  // Checked before anything is opened: a FIFO named as both would leave the run waiting.
  for (const std::string* output : {&coefficient_name, &std::as_const(line.path_name)}) {
    if (output->empty()) continue;
    if (const auto problem = OverwritesInput(*output, presence_name)) {
      PrintBadInput(*output, *problem);
      return 1;
    }
  }
  if (!line.path_name.empty() && SameDestination(line.path_name, coefficient_name)) {
    PrintBadInput(line.path_name, "is also the coefficient table; choose another path file");
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
  line.settings.kernel = KernelChoiceFromEnvironment();
  // One thread reads the table while another sums its blocks; a third would find nothing
  // to do.
  line.settings.threads = RequestedThreads(
      options, nullptr, std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 2));
  const PresenceFit table = FitPresenceTable(*source, line.settings);
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
  OutputFile path_output;
  if (!line.path_name.empty()) {
    if (!path_output.Open(line.path_name)) {
      PrintCannotOpen(line.path_name);
      return 1;
    }
    WritePathTable(table, path_output.stream());
  }
  if (!output.Commit()) {
    PrintWriteFailed(coefficient_name);
    return 1;
  }
  if (!line.path_name.empty() && !path_output.Commit()) {
    PrintWriteFailed(line.path_name);
    return 1;
  }
  return 0;
}

}  // namespace

int RunMotiffit(const std::vector<std::string>& args) {
  static constexpr ProgramFace kFace{kProgramName, WriteUsage, 2, kOptions};
  return RunProgram(kFace, args, FitScores);
}
