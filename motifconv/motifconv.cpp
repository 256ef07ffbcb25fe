#include "motifconv/motifconv.h"

#include <iostream>
#include <memory>
#include <ostream>

#include "common/diagnostics.h"
#include "common/files.h"
#include "common/input_source.h"
#include "common/output_file.h"
#include "common/program.h"
#include "motifconv/iupac_word.h"
#include "motifconv/position_matrix.h"

namespace {

void WriteUsage(std::ostream& out) {
  out << "Program for conversion of motif matrices to IUPAC motifs. " << std::endl
      << "Program gets [Matrix file] [.mot file] " << std::endl;
}

constexpr ProgramOption kOptions[] = {
    {"-f", "--format", "NAME",
     "matrix format: jaspar, meme, homer, transfac or auto (default: told by the first line)"},
};

// One motif line: the word, a tab, the width, the information content in bits and the
// number of sites, tab-separated, then a tab and the matrix's name, which the motif reader
// skips as the rest of the line.
void WriteMotifLine(std::ostream& out, const PositionMatrix& matrix) {
  out << IupacWord(matrix.positions) << '\t' << matrix.positions.size() << '\t'
      << InformationContent(matrix.positions) << '\t' << matrix.sites << '\t';
  // A name holds no line end or tab of its own, so the line stays one motif line.
  for (const char c : matrix.name) out << (c == '\t' || c == '\n' || c == '\r' ? ' ' : c);
  out << '\n';
}

int ConvertMatrices(const std::vector<std::string>& args, const ProgramOptions& options,
                    RunPlace& place) {
  const std::string& matrix_name = args[0];
  const std::string& motif_name = args[1];
  MatrixFormat format = MatrixFormat::kAuto;
  if (const auto name = options.Value("--format")) {
    const auto named = MatrixFormatNamed(*name);
    if (!named) {
      PrintBadOptionValue("Motifconv", "--format", *name, "jaspar, meme, homer, transfac or auto");
      return 1;
    }
    format = *named;
  }

  ProgressStream() << "Matrices fload" << std::endl;
  place.file_name = &matrix_name;
  std::string problem;
  const std::unique_ptr<ByteSource> source = OpenInputSource(matrix_name, problem);
  if (source == nullptr) {
    if (problem.empty()) {
      PrintCannotOpen(matrix_name);
    } else {
      PrintBadInput(matrix_name, problem);
    }
    return 1;
  }
  SourceStream in(*source);
  std::vector<PositionMatrix> matrices;
  const auto error = ReadMatrices(in, format, matrices);
  if (in.failed()) {
    if (in.problem().empty()) {
      PrintReadFailed(matrix_name);
    } else {
      PrintBadInput(matrix_name, in.problem());
    }
    return 1;
  }
  if (error) {
    PrintBadInput(matrix_name, *error);
    return 1;
  }

  if (!IsStandardInput(matrix_name)) {
    if (const auto refusal = OverwritesInput(motif_name, matrix_name)) {
      PrintBadInput(motif_name, *refusal);
      return 1;
    }
  }
  OutputFile output;
  if (!output.Open(motif_name)) {
    PrintCannotOpen(motif_name);
    return 1;
  }
  ProgressStream() << "Motifs write" << std::endl;
  for (const PositionMatrix& matrix : matrices) WriteMotifLine(output.stream(), matrix);
  if (!output.Commit()) {
    PrintWriteFailed(motif_name);
    return 1;
  }
  return 0;
}

}  // namespace

int RunMotifconv(const std::vector<std::string>& args) {
  static constexpr ProgramFace kFace{"Motifconv", WriteUsage, 2, kOptions, 1};
  return RunProgram(kFace, args, ConvertMatrices);
}
