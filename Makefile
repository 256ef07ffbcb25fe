# Thin wrapper over the CMake presets, so that a fresh clone needs two commands.
BUILD := build/release
EXAMPLE_OUT := build/example
# As many build and test jobs as the machine has processors; `make JOBS=1 test` for fewer.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build run test ci-test sanitize-test bench clean

all: build

build:
	cmake --preset release
	cmake --build --preset release --parallel $(JOBS)

# The example job: count the example motifs in the example peaks, show the first rows,
# then predict Ln(Peak score) from the counts with the fitted example model.
run: build
	mkdir -p $(EXAMPLE_OUT)
	$(BUILD)/sitecount/Sitecount examples/peaks.fa examples/motifs.mot \
	  $(EXAMPLE_OUT)/presence.tab 1
	@echo "First rows of $(EXAMPLE_OUT)/presence.tab:"
	@head -n 6 $(EXAMPLE_OUT)/presence.tab
# Scorefit runs inside $(EXAMPLE_OUT), so that out_b.tab,
# which it always writes to the working directory, lands there too.
	cd $(EXAMPLE_OUT) && $(CURDIR)/$(BUILD)/scorefit/Scorefit \
	  $(CURDIR)/examples/coefficients.tab presence.tab predicted.tab
	@echo "Observed Ln(Peak score) and Predicted, first rows of $(EXAMPLE_OUT)/predicted.tab:"
	@awk -F'\t' 'NR <= 11 { print $$2 "\t" $$NF }' $(EXAMPLE_OUT)/predicted.tab

test: build
	ctest --preset release --parallel $(JOBS)

# The same suite built with warnings as errors, as CI runs it.
ci-test:
	cmake --preset ci
	cmake --build --preset ci --parallel $(JOBS)
	ctest --preset ci --parallel $(JOBS)

sanitize-test:
	cmake --preset sanitize
	cmake --build --preset sanitize --parallel $(JOBS)
	ctest --preset sanitize --parallel $(JOBS)

bench: build
	$(BUILD)/bench/search_bench
	$(BUILD)/bench/fasta_reader_bench
	$(BUILD)/bench/scorefit_bench

# The libFuzzer targets, built with clang++ in build/fuzz, 30 seconds each;
# `make fuzz FUZZ_SECONDS=3600` for a longer run.
FUZZ_SECONDS ?= 30
.PHONY: fuzz
fuzz:
	tests/fuzz/run.sh $(FUZZ_SECONDS)

clean:
	rm -rf build
