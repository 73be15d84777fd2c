# Two entry points do everything on a fresh machine:
#   make demo    set up, build, and run the tool on a sample
#   make check   set up, build, and run every test
BUILD ?= build
CMAKE_FLAGS ?= -DQUORVANE_WARNINGS_AS_ERRORS=ON
JOBS ?= $(shell nproc)

.PHONY: setup build demo check clean

setup:
	@bash scripts/setup.sh

build: setup
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@echo "== quorvane version"; $(BUILD)/quorvane version
	@echo; echo "== quorvane formats"; $(BUILD)/quorvane formats
	@echo; echo "== quorvane errors"; $(BUILD)/quorvane errors

check: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	@rm -rf $(BUILD)
