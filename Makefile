# Thin wrapper over the CMake presets, so that a fresh clone needs two commands.
BUILD := build/release
EXAMPLE_OUT := build/example
# As many build and test jobs as the machine has processors; `make JOBS=1 test` for fewer.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build run test ci-test kernel-test sanitize-test tsan-test format-check bench clean

all: build

build:
	cmake --preset release
	cmake --build --preset release --parallel $(JOBS)

# The Debian packages that `make run` and `make test` need, installed where missing (as root,
# or through sudo); `tools/deps.sh GROUP` for one group (build, run, test, package, bench).
DEPS := tools/deps.sh
PROGRAMS := Sitecount Scorefit Motiffit Motifconv
.PHONY: deps programs
deps:
	$(DEPS) run test

# The four programs alone, which need no test library.
programs:
	cmake --preset release
	cmake --build --preset release --parallel $(JOBS) --target $(PROGRAMS)

# The example job: count the example motifs in the example peaks, fit Ln(Peak score) on
# the counts, predict it back from the fitted coefficients, and draw observed against
# predicted. The unpenalised fit also draws its motifs with the largest coefficients and
# their confidence intervals; `make run PENALTY=elastic` (or ridge, lasso) fits with that
# penalty and draws the cross-validated error against lambda instead.
PENALTY ?= none
run:
	$(DEPS) run
	$(MAKE) --no-print-directory programs
	@command -v gnuplot >/dev/null || \
	  { echo "make run: gnuplot not found (apt-get install gnuplot-nox)" >&2; exit 1; }
	mkdir -p $(EXAMPLE_OUT)
	$(BUILD)/sitecount/Sitecount examples/peaks.fa examples/motifs.mot \
	  $(EXAMPLE_OUT)/presence.tab 1
	@echo "First rows of $(EXAMPLE_OUT)/presence.tab:"
	@head -n 6 $(EXAMPLE_OUT)/presence.tab
	$(BUILD)/motiffit/Motiffit --penalty $(PENALTY) \
	  $(if $(filter-out none,$(PENALTY)),--path $(EXAMPLE_OUT)/path.tab) \
	  $(EXAMPLE_OUT)/presence.tab $(EXAMPLE_OUT)/coefficients.tab
	@echo "The fit, from $(EXAMPLE_OUT)/coefficients.tab:"
	@awk 'NF == 0 { exit } NR > 2' $(EXAMPLE_OUT)/coefficients.tab
# Scorefit runs inside $(EXAMPLE_OUT), so that out_b.tab,
# which it always writes to the working directory, lands there too.
	cd $(EXAMPLE_OUT) && $(CURDIR)/$(BUILD)/scorefit/Scorefit \
	  coefficients.tab presence.tab predicted.tab
	@echo "Observed Ln(Peak score) and Predicted, first rows of $(EXAMPLE_OUT)/predicted.tab:"
	@awk -F'\t' 'NR <= 11 { print $$2 "\t" $$NF }' $(EXAMPLE_OUT)/predicted.tab
	gnuplot -e "predicted='$(EXAMPLE_OUT)/predicted.tab'" \
	  -e "coefficients='$(EXAMPLE_OUT)/coefficients.tab'" \
	  -e "output='$(EXAMPLE_OUT)/fit.png'" workflow/plot_fit.gp
	@echo "Observed against predicted Ln(Peak score), drawn in $(EXAMPLE_OUT)/fit.png"
ifeq ($(PENALTY),none)
	gnuplot -e "coefficients='$(EXAMPLE_OUT)/coefficients.tab'" \
	  -e "output='$(EXAMPLE_OUT)/motifs.png'" workflow/plot_motifs.gp
	@echo "Motifs with the largest coefficients, drawn in $(EXAMPLE_OUT)/motifs.png"
else
	gnuplot -e "path='$(EXAMPLE_OUT)/path.tab'" \
	  -e "coefficients='$(EXAMPLE_OUT)/coefficients.tab'" \
	  -e "output='$(EXAMPLE_OUT)/path.png'" workflow/plot_path.gp
	@echo "Cross-validated error against lambda, drawn in $(EXAMPLE_OUT)/path.png"
endif

# The tests require GoogleTest, which the first step installs.
test:
	$(DEPS) test
	cmake --preset release -DBUILD_TESTS=ON
	cmake --build --preset release --parallel $(JOBS)
	ctest --preset release --parallel $(JOBS)

# The same suite built with warnings as errors, as CI runs it.
ci-test:
	cmake --preset ci
	cmake --build --preset ci --parallel $(JOBS)
	ctest --preset ci --parallel $(JOBS)

# The command-line cases again with each counting path forced and with one thread, so
# that every kernel the processor has runs end to end (one it lacks falls back).
kernel-test: build
	for kernel in scalar avx2 avx512 anchor table pairwise; do \
	  SITECOUNT_KERNEL=$$kernel ctest --preset release -L cli --parallel $(JOBS) || exit 1; \
	done
	for kernel in scalar avx2 avx512; do \
	  MOTIFFIT_KERNEL=$$kernel ctest --preset release -L cli -R motiffit --parallel $(JOBS) || exit 1; \
	done
	for kernel in scalar avx2; do \
	  SCOREFIT_KERNEL=$$kernel ctest --preset release -L cli -R scorefit --parallel $(JOBS) || exit 1; \
	done
	SITECOUNT_THREADS=1 ctest --preset release -L cli --parallel $(JOBS)

sanitize-test:
	cmake --preset sanitize
	cmake --build --preset sanitize --parallel $(JOBS)
	ctest --preset sanitize --parallel $(JOBS)

# The unit tests and command-line cases under ThreadSanitizer (build/tsan), then Sitecount
# and Scorefit on a generated input of over 20 MB with 1, 2, 3 and 8 threads: every output
# byte-identical to the one-thread run, and no report from the sanitizer.
tsan-test:
	cmake --preset tsan
	cmake --build --preset tsan --parallel $(JOBS)
	ctest --preset tsan --parallel $(JOBS)
	tests/tsan/stress.sh build/tsan

# Every tracked C++ file against .clang-format; lists the files that differ.
format-check:
	.ci/format-check

bench: build
	$(BUILD)/bench/search_bench
	$(BUILD)/bench/motif_engine_bench
	$(BUILD)/bench/fasta_reader_bench
	$(BUILD)/bench/number_text_bench
	$(BUILD)/bench/scorefit_bench

# The libFuzzer targets, built with clang++ in build/fuzz, 30 seconds each;
# `make fuzz FUZZ_SECONDS=3600` for a longer run.
FUZZ_SECONDS ?= 30
.PHONY: fuzz
fuzz:
	tests/fuzz/run.sh $(FUZZ_SECONDS)

clean:
	rm -rf build

# The Debian package in build/package, checked by unpacking it and running the example job
# with the unpacked programs.
.PHONY: package
package:
	$(DEPS) package
	JOBS=$(JOBS) .ci/package
