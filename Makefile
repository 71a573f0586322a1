# The two commands of the README: `make run` and `make test`.
JOBS ?= $(shell nproc)
# Compile jobs; lower it when several builds share the machine (sanitizer builds are memory-hungry).
BUILD_JOBS ?= $(JOBS)
CMAKE_GEN := -G Ninja

.PHONY: run build test bench fuzz deps clean

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build/release --target vyr -j $(BUILD_JOBS)

run: build
	@build/release/vyr $(ARGS)

test: deps
	@cmake -S . -B build/test $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVYR_SANITIZE=ON >/dev/null
	@cmake --build build/test -j $(BUILD_JOBS)
	@cd build/test && ctest --output-on-failure -j $(JOBS)

bench: deps
	@cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DVYR_BENCH=ON >/dev/null
	@cmake --build build/release -j $(BUILD_JOBS)
	@scripts/run-bench.sh build/release

fuzz: deps
	@cmake -S . -B build/fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVYR_FUZZ=ON \
		-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
	@cmake --build build/fuzz -j $(BUILD_JOBS) --target fuzz_targets
	@scripts/run-fuzz.sh build/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build
