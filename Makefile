# Entry points for the long runs. The everyday commands are scripts/run.sh and scripts/test.sh.
.PHONY: all test run bench

all:
	scripts/build.sh

test:
	scripts/test.sh

run:
	scripts/run.sh

# Every speed and memory figure against its target, built in release mode in build-bench/.
bench:
	bench/run.sh
