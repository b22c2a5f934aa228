# Front door: every target installs what is missing, then builds what it needs.
BUILD    ?= build
WERROR   ?= OFF
JOBS     ?= $(shell nproc)
CMAKE_ARGS ?=

# Debian packages for the build, the tests, the benchmarks and the simulator.
PACKAGES := g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
            libcurl4-openssl-dev libpcre2-dev libcpp-httplib-dev
# The fuzzers need clang's libFuzzer.
FUZZ_PACKAGES := clang libclang-rt-14-dev

.PHONY: deps configure build test bench demo sanitize fuzz format clean

deps:
	@missing=$$(for p in $(PACKAGES) $(EXTRA_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZERANO_WERROR=$(WERROR) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bin/bench_*; do echo "== $$b"; $$b --benchmark_min_time=0.2; done

demo: build
	@scripts/demo.sh $(BUILD)/bin

# Address and undefined-behaviour sanitizers over the whole suite, then the thread sanitizer
# over the tests that run threads.
sanitize: deps
	$(MAKE) test BUILD=build-asan CMAKE_ARGS="-DZERANO_SANITIZE=address,undefined"
	$(MAKE) build BUILD=build-tsan CMAKE_ARGS="-DZERANO_SANITIZE=thread"
	cd build-tsan && ctest --output-on-failure -L threads

fuzz:
	$(MAKE) deps EXTRA_PACKAGES="$(FUZZ_PACKAGES)"
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DZERANO_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS)
	@for f in build-fuzz/bin/fuzz_*; do echo "== $$f"; $$f -max_total_time=20 -rss_limit_mb=2048; done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-asan build-tsan build-fuzz
