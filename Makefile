# Quick start: `make demo` builds what the demo needs (the library, the
# simulated board and the demo) and runs it; `make test` builds everything and
# runs every test.
BUILD ?= build
JOBS ?= 2

.PHONY: all build demo test bench clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake --preset default -B $(BUILD)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

demo: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target voxa-demo
	$(BUILD)/examples/voxa-demo

test: build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x $$b ] && $$b; done

clean:
	rm -rf $(BUILD)
