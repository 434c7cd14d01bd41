# Quick start: `make demo` builds what the demo needs (the library, the
# simulated board and the demo) and runs it; `make test` builds everything and
# runs every test.
BUILD ?= build
JOBS ?= 2

.PHONY: all build demo test bench clean panel-test-modules

all: build

$(BUILD)/CMakeCache.txt:
	cmake --preset default -B $(BUILD)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

demo: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target voxa-demo
	$(BUILD)/examples/voxa-demo

test: panel-test-modules build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure

# The panel's browser test needs node, chromium and its node modules: they
# are installed here (npm ci in tests/panel) when node_modules is missing,
# and the build is configured again to take the test in. Without them the
# test is left out, and this says so.
PANEL_MODULES := tests/panel/node_modules/puppeteer-core
panel-test-modules: $(BUILD)/CMakeCache.txt
	@if [ -d $(PANEL_MODULES) ]; then :; \
	elif ! command -v node >/dev/null 2>&1 || ! command -v chromium >/dev/null 2>&1; then \
	  echo "make test: the panel's browser test is skipped: it needs node and chromium (apt install nodejs npm chromium)"; \
	elif ! command -v npm >/dev/null 2>&1; then \
	  echo "make test: the panel's browser test is skipped: npm is missing to install its node modules (apt install npm)"; \
	else \
	  echo "make test: installing the panel browser test's node modules (npm ci in tests/panel)"; \
	  if (cd tests/panel && npm ci --no-audit --no-fund); then cmake $(BUILD) >/dev/null; \
	  else echo "make test: the panel's browser test is skipped: npm ci in tests/panel failed"; fi; \
	fi

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x $$b ] && $$b; done

clean:
	rm -rf $(BUILD)
