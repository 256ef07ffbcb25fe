# What users have, turned into what the programs read: peak sets given as a BED or
# narrowPeak file and a genome become FASTA windows; motif matrices (JASPAR, MEME, HOMER,
# TRANSFAC) become motif files; and every prediction table becomes a peak table that names
# its rows.
#
# A peak set in the configuration is either a FASTA file or a mapping:
#
#   peak_sets:
#     chip:
#       peaks: chip.narrowPeak      # BED or narrowPeak
#       genome: genome.fa.gz        # plain or bgzip-compressed, indexed or not
#       score_column: 7             # the default: narrowPeak's signal value
#
# A motif file whose first line is not a motif line (an IUPAC word, then a tab or the line's
# end) is read as a file of matrices and converted by Motifconv.

import re
import shutil

from snakemake.exceptions import WorkflowError

MOTIF_LINE = re.compile(r"[ATGCRYMKWSBVHDNatgcrymkwsbvhdn][ATGCRYMKWSBVHDNatgcrymkwsbvhdn+-]*(\t.*)?")
SCRIPTS = os.path.join(workflow.basedir, "scripts")


def peak_set(name):
    """The configuration of a peak set: a FASTA file's name, or the mapping of a BED set."""
    value = PEAK_SETS[name]
    if isinstance(value, dict):
        unknown = set(value) - {"peaks", "genome", "score_column"}
        if unknown or "peaks" not in value or "genome" not in value:
            raise WorkflowError(
                f"peak set {name}: give 'peaks' and 'genome' (and 'score_column'); "
                f"found {sorted(value)}"
            )
    return value


def peak_fasta(name):
    """The FASTA file that Sitecount counts for a peak set."""
    value = peak_set(name)
    if isinstance(value, dict):
        return f"{RESULTS}/{name}/windows.fa"
    return value


def is_motif_file(path):
    """True when the first line of `path` is a motif line, or the file is empty."""
    try:
        with open(path, encoding="utf-8", errors="replace") as stream:
            first = stream.readline().rstrip("\r\n")
    except OSError as error:
        raise WorkflowError(f"motif file {path}: {error.strerror}")
    return first == "" or MOTIF_LINE.fullmatch(first) is not None


def motif_input(name):
    """The motif file that Sitecount reads: the configured one, or its conversion."""
    path = MOTIF_FILES[name]
    return path if is_motif_file(path) else f"{RESULTS}/motif_files/{name}.mot"


def find_program(name, folder):
    """The program in the configured folder (a build folder or one holding the programs),
    or, when no folder is configured, on the PATH."""
    configured = config.get("programs")
    if not configured:
        found = shutil.which(name)
        if found:
            return found
        raise WorkflowError(
            f"{name} is not on the PATH: install the programs, or set 'programs' to their "
            "build folder in the configuration"
        )
    base = os.path.abspath(configured)
    for path in (os.path.join(base, folder, name), os.path.join(base, name)):
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return path
    raise WorkflowError(
        f"{name} is neither in {base}/{folder} nor in {base}: build the programs (make build), "
        "set 'programs' in the configuration, or set it empty (programs: '') to take the "
        "installed programs from the PATH"
    )


rule cut_windows:
    input:
        peaks=lambda w: peak_set(w.peaks)["peaks"],
        genome=lambda w: peak_set(w.peaks)["genome"],
    output:
        RESULTS + "/{peaks}/windows.fa",
    params:
        score_column=lambda w: int(peak_set(w.peaks).get("score_column", 7)),
        index_folder=RESULTS + "/{peaks}/genome_index",
        script=os.path.join(SCRIPTS, "cut_windows.py"),
    shell:
        "python3 {params.script:q} {input.peaks:q} {input.genome:q} {params.score_column} "
        "{params.index_folder:q} {output:q}"


rule convert_motifs:
    input:
        lambda w: MOTIF_FILES[w.motifs],
    output:
        RESULTS + "/motif_files/{motifs}.mot",
    log:
        RESULTS + "/motif_files/logs/{motifs}.log",
    shell:
        "{MOTIFCONV:q} {input:q} {output:q} > {log:q}"


rule peak_table:
    input:
        fasta=lambda w: peak_fasta(w.peaks),
        predicted=SET_DIR + "/predicted.tab",
    output:
        SET_DIR + "/peaks.bed",
    params:
        script=os.path.join(SCRIPTS, "peak_table.py"),
    shell:
        "python3 {params.script:q} {input.fasta:q} {input.predicted:q} {output:q}"
