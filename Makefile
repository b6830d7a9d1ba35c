# Entry points for a fresh machine: `make demo` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX     ?= /usr/local
DESTDIR    ?=

.PHONY: all deps build test test-plain test-asan demo bench fuzz install clean

all: build

deps:
	@tools/ensure-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: test-plain test-asan

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOPTMIX_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

demo: build
	@tools/demo.sh $(BUILD)

bench: deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DOPTMIX_BUILD_TESTS=OFF \
	  -DOPTMIX_BUILD_BENCHMARKS=ON >/dev/null
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	$(BENCH_BUILD)/bench/codec_bench

# libFuzzer targets (clang): FUZZ_SECONDS per target, FUZZ_TARGETS to choose some.
fuzz: deps
	@command -v clang++ >/dev/null 2>&1 || { echo "make fuzz needs clang++ and libclang-rt-14-dev:" \
	  "apt-get install clang libclang-rt-14-dev"; exit 1; }
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DOPTMIX_FUZZ=ON -DOPTMIX_BUILD_TESTS=OFF >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run_fuzzers.sh $(FUZZ_BUILD)

install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
