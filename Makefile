# Vantoro Image Viewer: the two commands of a fresh machine are `make run` and `make test`.
BUILD    ?= build
JOBS     ?= $(shell nproc)
CMAKE_ARGS ?=
SAMPLES  ?= samples
PREFIX   ?= /usr/local
SECONDS  ?= 60

.PHONY: all deps configure build test tsan-test run bench fuzz install clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	@$(MAKE) --no-print-directory deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_ARGS)

configure: $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Work on several threads under ThreadSanitizer, in builds of their own: the library's
# concurrent decodes, then the viewer's and the browser's worker threads (label "threads").
tsan-test: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_TSAN=ON -DVT_LIBRARY_ONLY=ON
	cmake --build build-tsan -j $(JOBS) --target codecs_tests
	cd build-tsan && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -R 'Concurrent'
	cmake -S . -B build-tsan-gui -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_TSAN=ON
	cmake --build build-tsan-gui -j $(JOBS) --target viewer_tests browser_tests
	cd build-tsan-gui && QT_QPA_PLATFORM=offscreen \
	    TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/support/tsan_qt_internals.supp" \
	    ctest --output-on-failure -j $(JOBS) -L threads

# Opens the viewer on the first picture of the samples folder.
run: build
	$(BUILD)/viewer/vtview "$$(ls -d $(SAMPLES)/* | head -n 1)"

bench: build
	bench/run.sh $(BUILD)

fuzz: deps
	scripts/run-fuzzers.sh $(SECONDS)

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) build-tsan build-tsan-gui
