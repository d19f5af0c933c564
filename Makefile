# Entry points: `make run` and `make test` set up everything they need.
PRESETS := host host-asan coverage win32 win64
JOBS ?= $(shell nproc)
ARGS ?=

.PHONY: all deps build run test unit wine lint coverage fuzz bench dist clean $(addprefix build-,$(PRESETS))

all: build

deps:
	@scripts/install-deps.sh

build: deps $(addprefix build-,$(PRESETS))

$(addprefix build-,$(PRESETS)): build-%:
	@cmake --preset $* > /dev/null
	@cmake --build --preset $* -j $(JOBS)

# One-shot with ARGS=..., resident without; under Xvfb when there is no display.
run: deps build-win32
	@scripts/run.sh "$(ARGS)"

unit: deps build-host build-host-asan
	ctest --preset host
	ctest --preset host-asan

wine: deps build-win32 build-win64
	ctest --preset win32
	ctest --preset win64

lint: deps build-host
	@scripts/lint.sh

# The unit tests' line and branch coverage of the program's code, file by file.
coverage: deps build-coverage
	@scripts/coverage.sh build/coverage

FUZZ_SECONDS ?= 60
fuzz: deps
	@scripts/fuzz.sh $(FUZZ_SECONDS)

# Release timings of the mode list and the hot paths (not a test).
bench: deps
	@cmake --preset host -B build/bench -DCMAKE_BUILD_TYPE=Release > /dev/null
	@cmake --build build/bench --target modelist_bench paths_bench -j $(JOBS)
	build/bench/modelist_bench
	build/bench/paths_bench

# The release zip and its sums in dist/, from the 32-bit product.
dist: deps
	@cmake --preset win32 > /dev/null
	@cmake --build --preset win32 --target dist -j $(JOBS)

test: build
	@scripts/lint.sh
	@scripts/fuzz.sh 15
	ctest --preset host
	ctest --preset host-asan
	ctest --preset coverage
	ctest --preset win32
	ctest --preset win64

clean:
	rm -rf build dist
