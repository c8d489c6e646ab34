# Entry points for the long runs. The everyday commands are scripts/run.sh and scripts/test.sh.
.PHONY: all test run soak

BUILD_DIR ?= build
SOAK_MINUTES ?= 10

all:
	scripts/build.sh

test:
	scripts/test.sh

run:
	scripts/run.sh

# The window offscreen with live frames streaming into its port for SOAK_MINUTES minutes:
# prints frames sent and handled, memory, threads and descriptors, and fails on a lost frame,
# growth, or a log that does not read back.
soak:
	BUILD_DIR=$(BUILD_DIR) scripts/build.sh
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/tests/soak/dielmon-soak --minutes $(SOAK_MINUTES) \
		--trace-tool $(BUILD_DIR)/tools/trace/dielmon-trace
