# Entry points for the long runs. The everyday commands are scripts/run.sh and scripts/test.sh.
.PHONY: all test run deb fuzz fuzz-seeds check-asan check-tsan bench soak

FUZZ_SECONDS ?= 60
BUILD_DIR ?= build
SOAK_MINUTES ?= 10

all:
	scripts/build.sh

test:
	scripts/test.sh

run:
	scripts/run.sh

# The Debian package, build-deb/dielmon_<version>_amd64.deb, with its debug symbols beside it.
deb:
	scripts/deb.sh

# Every libFuzzer target FUZZ_SECONDS seconds, built with clang in build-fuzz/.
fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh run

# Writes fuzz/corpus/ and fuzz/dict/ anew from the seed generator.
fuzz-seeds:
	scripts/fuzz.sh seeds

# The whole test suite under AddressSanitizer with UndefinedBehaviorSanitizer (build-asan/)
# and under ThreadSanitizer (build-tsan/).
check-asan:
	scripts/check-sanitizer.sh address,undefined build-asan

check-tsan:
	scripts/check-sanitizer.sh thread build-tsan

# Every speed and memory figure against its target, built in release mode in build-bench/.
bench:
	bench/run.sh

# The window offscreen with live frames streaming into its port for SOAK_MINUTES minutes:
# prints frames sent and handled, memory, threads and descriptors, and fails on a lost frame,
# growth, or a log that does not read back.
soak:
	BUILD_DIR=$(BUILD_DIR) scripts/build.sh
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/tests/soak/dielmon-soak --minutes $(SOAK_MINUTES) \
		--trace-tool $(BUILD_DIR)/tools/trace/dielmon-trace
