# Two entry points do everything on a fresh machine:
#   make demo    set up, build, and run the tool on a sample
#   make check   set up, build, and run every test
BUILD ?= build
CMAKE_FLAGS ?= -DQUORVANE_WARNINGS_AS_ERRORS=ON
JOBS ?= $(shell nproc)

# The Windows component (Quorvane.ocx) is cross-compiled into $(WINDOWS) and tested under Wine.
WINDOWS ?= $(BUILD)/windows

.PHONY: setup build windows demo check clean

setup:
	@bash scripts/setup.sh

build: setup
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

windows: setup
	@bash scripts/windows-deps.sh $(WINDOWS)/deps
	@QUORVANE_WINDOWS_DEPS=$(abspath $(WINDOWS)/deps) cmake -S . -B $(WINDOWS)/build -G Ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake $(CMAKE_FLAGS) \
	  -DQUORVANE_LINUX_TOOL=$(abspath $(BUILD))/quorvane >/dev/null
	@cmake --build $(WINDOWS)/build -j $(JOBS)

# The demo writes the builder's sample deck into $(BUILD)/demo/, exports its text with notes and
# numbers, saves slides 2 to 3 as a presentation of their own, and converts both decks to PDF in one
# batch with a JSON line per deck. Text is shown with paragraph
# marks (CR) and line breaks (VT) as new lines; the file itself keeps them.
demo: DEMO = $(BUILD)/demo
demo: DEMO_SHOW = sed -e 's/\r$$//' -e 's/[\r\v]/\n/g'

demo: build
	@echo "== quorvane version"; $(BUILD)/quorvane version
	@echo; echo "== quorvane formats"; $(BUILD)/quorvane formats
	@echo; echo "== quorvane errors"; $(BUILD)/quorvane errors
	@test -x $(BUILD)/quorvane-sample || { echo "demo: $(BUILD)/quorvane-sample was not built" \
	  "(CMakeLists.txt needs add_subdirectory(tools))" >&2; exit 1; }
	@rm -rf $(DEMO) && mkdir -p $(DEMO)
	@echo; echo "== quorvane-sample $(DEMO)/sample.pptx"
	@$(BUILD)/quorvane-sample $(DEMO)/sample.pptx && ls -l $(DEMO)/sample.pptx
	@echo; echo "== quorvane convert $(DEMO)/sample.pptx $(DEMO)/sample.txt --type txt --notes --numbers"
	@LC_ALL=C.UTF-8 $(BUILD)/quorvane convert $(DEMO)/sample.pptx $(DEMO)/sample.txt --type txt --notes --numbers
	@$(DEMO_SHOW) $(DEMO)/sample.txt
	@echo; echo "== quorvane convert $(DEMO)/sample.pptx $(DEMO)/slides-2-3.pptx --start 2 --end 3 --numbers"
	@if LC_ALL=C.UTF-8 $(BUILD)/quorvane convert $(DEMO)/sample.pptx $(DEMO)/slides-2-3.pptx \
	    --start 2 --end 3 --numbers; then \
	  ls -l $(DEMO)/slides-2-3.pptx; \
	  echo; echo "== its text: quorvane convert $(DEMO)/slides-2-3.pptx $(DEMO)/slides-2-3.txt --type txt"; \
	  LC_ALL=C.UTF-8 $(BUILD)/quorvane convert $(DEMO)/slides-2-3.pptx $(DEMO)/slides-2-3.txt --type txt \
	    && $(DEMO_SHOW) $(DEMO)/slides-2-3.txt; \
	else \
	  echo "demo: saving slides 2 to 3 failed with exit status $$? (see the message above)"; \
	fi
	@echo; echo "== quorvane convert -d $(DEMO)/pdf --type pdf -j 2 --json $(DEMO)/*.pptx"
	@LC_ALL=C.UTF-8 $(BUILD)/quorvane convert -d $(DEMO)/pdf --type pdf -j 2 --json $(DEMO)/*.pptx \
	  || echo "demo: the batch to PDF ended with exit status $$? (see the messages above)"

check: build windows
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@cd $(WINDOWS)/build && ctest --output-on-failure

clean:
	@rm -rf $(BUILD)
