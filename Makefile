# Entry points for the long runs. The everyday commands are scripts/run.sh and scripts/test.sh.
.PHONY: all test run

all:
	scripts/build.sh

test:
	scripts/test.sh

run:
	scripts/run.sh
