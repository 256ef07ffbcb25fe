#!/usr/bin/env bash
# Checks that the Debian (or Ubuntu) packages a make target needs are installed, and installs
# the missing ones with apt-get: directly as root, through sudo where it is available,
# otherwise it names the command to run and stops.
#
#   tools/deps.sh [GROUP...]     GROUP: build (the default), run, workflow, test, package,
#                                bench, ci
#
# build    the four programs: compiler, CMake, ISA-L, Eigen, Boost
# run      build, and gnuplot for the picture of `make run`
# workflow build, and the workflow's tools: Snakemake, seqkit, samtools, tabix, bedtools
# test     build, GoogleTest, and the workflow's tools for the workflow tests
# package  build, and what makes and checks the Debian package
# bench    build, and Google Benchmark and zlib for the benchmarks
# ci       everything above, and clang for the fuzz targets
set -euo pipefail

build=(g++ cmake make pkg-config libisal-dev libeigen3-dev libboost-dev)
run=(gnuplot-nox)
workflow=(snakemake seqkit samtools tabix bedtools python3)
test=(libgtest-dev libgmock-dev "${workflow[@]}")
package=(dpkg-dev file groff-base lintian)
bench=(libbenchmark-dev zlib1g-dev)
ci=(clang libclang-rt-14-dev util-linux)

wanted=("${build[@]}")
[[ $# -gt 0 ]] || set -- build
for group in "$@"; do
  case $group in
    build) ;;
    run) wanted+=("${run[@]}") ;;
    workflow) wanted+=("${workflow[@]}") ;;
    test) wanted+=("${test[@]}") ;;
    package) wanted+=("${package[@]}") ;;
    bench) wanted+=("${bench[@]}") ;;
    ci) wanted+=("${run[@]}" "${test[@]}" "${package[@]}" "${bench[@]}" "${ci[@]}") ;;
    *)
      echo "tools/deps.sh: unknown group '$group' (build, run, workflow, test, package, bench, ci)" >&2
      exit 2
      ;;
  esac
done

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "tools/deps.sh: not a Debian or Ubuntu system; install the equivalents of" \
    "${wanted[*]} by hand" >&2
  exit 0
fi

missing=()
for package_name in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$package_name" 2>/dev/null || true)
  [[ $status == installed ]] || missing+=("$package_name")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "tools/deps.sh: missing packages; as root, run:" \
    "apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi

echo "tools/deps.sh: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
