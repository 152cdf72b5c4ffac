# The project's entry points. Each target does all the set-up it needs on a
# fresh Debian 12 machine: packages, configure, build.
JOBS      ?= $(shell nproc)
BUILD     ?= build
ASAN      ?= build-asan
FUZZ      ?= build-fuzz
DEMO_CALLS ?= 100000
CMAKE_GEN := -G Ninja

.PHONY: all deps build build-asan test test-normal test-asan test-fuzz run demo bench fuzz format screenshots install clean

all: build

deps:
	@./scripts/install-deps.sh

# The test builds have the flat driver's crash points (NV_CRASH_POINTS),
# which the kill tests need; a build for installing leaves them out. The
# options are given on every run so that an existing build folder gets them.
build: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNV_CRASH_POINTS=ON
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DNV_SANITIZE=ON -DNV_CRASH_POINTS=ON
	cmake --build $(ASAN) -j $(JOBS)

# The CI run: every test in the normal build, the file-format fuzzers for a
# bounded time (FUZZ_SECONDS), then every test again under ASan + UBSan.
FUZZ_SECONDS ?= 60
test: test-normal test-fuzz test-asan

test-fuzz: deps
	./scripts/fuzz.sh $(FUZZ_SECONDS)

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

test-asan: build-asan
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

run: build
	@./scripts/run.sh $(BUILD)

demo: build
	@./scripts/demo.sh $(BUILD) $(DEMO_CALLS) $(FORCE)

bench: build
	@./scripts/bench.sh $(BUILD) $(BENCH_ARGS)

fuzz: deps
	./scripts/fuzz.sh $(FUZZ_SECONDS)

# A PNG of every agenda window at 1024x768 into docs/screens (docs/screens.md).
screenshots: build
	@./tools/screenshot/screenshot.sh $(BUILD) docs/screens

# Installs the programs, libraries, drivers and the agenda's desktop entry
# and icon under PREFIX (default /usr/local; DESTDIR for packaging).
# The prefix is configured into the build: the runtime looks for drivers in
# the installed library folder.
PREFIX ?= /usr/local
install: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(BUILD) -j $(JOBS)
	cmake --install $(BUILD)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZ)
