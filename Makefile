# Entry points; each installs missing packages first.
#   make run   builds and starts kelnod on config/kelnod.conf (Ctrl-C stops it)
#   make test  builds and runs every test, then again under the sanitizers
#   make bench builds a Release tree (build-bench) and runs kelno_bench, which
#              compares Kelno with the libzmq limit and Mosquitto in a few
#              minutes; the table goes to build-bench/bench-results.md
#   make soak  pushes SOAK_MESSAGES through a three-node chain whose middle node
#              is killed and restarted SOAK_RESTARTS times (a few minutes)
#   make chaos runs a reliable four-node chain for CHAOS_SECONDS while its
#              middle node is killed and stopped CHAOS_EVENTS times, and checks
#              that every message arrives exactly once (a few minutes)
#   make fuzz  builds the fuzz targets with clang and libFuzzer and runs each
#              for FUZZ_SECONDS on its corpus (new inputs go to build-fuzz/corpus)
#   make test-armhf  cross-builds for 32-bit ARM (build-armhf) and runs every
#              test under qemu-user (a few minutes)
#   make package  builds the Debian packages for amd64 and armhf into dist/

JOBS ?= 2
FUZZ_SECONDS ?= 60
SOAK_MESSAGES ?= 1000000
SOAK_RESTARTS ?= 3
CHAOS_SECONDS ?= 180
CHAOS_EVENTS ?= 12
FUZZ_TARGETS = receiver header_decoders properties
CTEST = ctest --output-on-failure -j $(JOBS) --no-tests=error
SANITIZER_ENV = ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1 \
                LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp \
                UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
                TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/scripts/tsan.supp"

.PHONY: deps build run test test-plain test-asan test-tsan test-armhf armhf-deps package bench bench-armhf-build fuzz soak soak-asan chaos chaos-asan clean

deps:
	@./scripts/install-deps.sh

build: deps
	cmake -S . -B build -DKELNO_WERROR=ON
	cmake --build build -j $(JOBS)

# Only the daemon is built, so a newcomer sees it start without waiting for the tests.
run: deps
	cmake -S . -B build -DKELNO_WERROR=ON
	cmake --build build -j $(JOBS) --target kelnod
	./build/daemon/kelnod config/kelnod.conf

test: deps test-plain test-asan test-tsan

test-plain:
	cmake -S . -B build -DKELNO_WERROR=ON
	cmake --build build -j $(JOBS)
	cd build && $(CTEST)

test-asan:
	cmake -S . -B build-asan -DKELNO_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DKELNO_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	cd build-asan && $(SANITIZER_ENV) $(CTEST)

# The client's threads under ThreadSanitizer (only the tests labelled "threads").
test-tsan:
	cmake -S . -B build-tsan -DKELNO_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DKELNO_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && $(SANITIZER_ENV) $(CTEST) -L threads

# 32-bit ARM (Debian armhf): the cross compiler, qemu-user and the armhf
# libraries the build links, installed multiarch beside the native ones.
# Another library the build needs goes into ARMHF_LIBRARIES, by its native name.
ARMHF_LIBRARIES = libzmq3-dev uuid-dev libgtest-dev libgmock-dev libsqlite3-dev
ARMHF_PACKAGES = g++-arm-linux-gnueabihf qemu-user $(addsuffix :armhf,$(ARMHF_LIBRARIES))
ARMHF_CMAKE_ARGS = -DKELNO_WERROR=ON -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake

armhf-deps: deps
	@./scripts/install-deps.sh $(ARMHF_PACKAGES)

# The whole suite, plainly (the sanitizers stay with the native build). ctest
# and the tests start every ARM program through qemu-arm, which the toolchain
# file names; nothing is registered with binfmt_misc.
test-armhf: armhf-deps
	cmake -S . -B build-armhf $(ARMHF_CMAKE_ARGS)
	cmake --build build-armhf -j $(JOBS)
	cd build-armhf && $(CTEST)

# Debian packages of both architectures into dist/ (kelnod, libkelno,
# libkelno-dev, kelno-tools), each checked with lintian; see
# scripts/build-debs.sh. Not part of `make test`. Root is not needed.
PACKAGE_TOOLS = dpkg-dev lintian file
package: armhf-deps
	@./scripts/install-deps.sh $(PACKAGE_TOOLS)
	./scripts/build-debs.sh amd64
	./scripts/build-debs.sh armhf

# Optimised and without the tests. The peer broker with its client library and
# Google Benchmark are installed only when missing; the driver starts its own
# broker on a free port, so a packaged one running as a service does not matter.
BENCH_PACKAGES = mosquitto libmosquitto-dev libbenchmark-dev
bench: deps bench-armhf-build
	@./scripts/install-deps.sh $(BENCH_PACKAGES)
	cmake -S . -B build-bench -DKELNO_WERROR=ON -DCMAKE_BUILD_TYPE=Release -DKELNO_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS) --target kelno_bench framing_bench
	./build-bench/bench/kelno_bench --armhf-build build-bench-armhf > build-bench/bench-results.md && cat build-bench/bench-results.md

# The shipped files of an armhf Release build, whose sizes S5 reports beside
# the native ones (built the same way: -O3, not stripped).
bench-armhf-build: armhf-deps
	cmake -S . -B build-bench-armhf $(ARMHF_CMAKE_ARGS) -DCMAKE_BUILD_TYPE=Release -DKELNO_BUILD_TESTS=OFF
	cmake --build build-bench-armhf -j $(JOBS) --target kelnod kelno_prompt kelno_mirror_json kelno_json_tester

# Not part of `make test`: it runs for minutes. The figures go to standard output.
soak: deps
	cmake -S . -B build-soak -DKELNO_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-soak -j $(JOBS) --target kelno_soak kelnod
	./build-soak/tests/soak/kelno_soak $(SOAK_MESSAGES) $(SOAK_RESTARTS)

# The same with every daemon under AddressSanitizer and LeakSanitizer: a leak
# or memory error ends a node with a non-zero status, which fails the run.
soak-asan: deps
	cmake -S . -B build-asan -DKELNO_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DKELNO_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS) --target kelno_soak kelnod
	$(SANITIZER_ENV) ./build-asan/tests/soak/kelno_soak $(SOAK_MESSAGES) $(SOAK_RESTARTS) --sanitized

# Not part of `make test` either (its short version is: chaos_tests). Pass
# CHAOS_SEED=<seed> to replay the events of a run; the run prints its seed.
chaos: deps
	cmake -S . -B build-soak -DKELNO_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-soak -j $(JOBS) --target kelno_chaos kelnod
	./build-soak/tests/chaos/kelno_chaos $(CHAOS_SECONDS) $(CHAOS_EVENTS) 100 $(CHAOS_SEED)

# The same with every daemon under AddressSanitizer and UndefinedBehaviorSanitizer:
# a report ends a node with a non-zero status, which fails the run.
chaos-asan: deps
	cmake -S . -B build-asan -DKELNO_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DKELNO_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS) --target kelno_chaos kelnod
	$(SANITIZER_ENV) ./build-asan/tests/chaos/kelno_chaos $(CHAOS_SECONDS) $(CHAOS_EVENTS) 100 $(CHAOS_SEED)

# The whole project is instrumented for coverage and the sanitizers, so the
# fuzzer sees into the libraries. The committed seeds, and those the build
# writes from the tests' table of malformed frames (build-fuzz/fuzz/seeds), are
# only read: what the fuzzer adds goes to a folder of the build.
fuzz: deps
	@command -v clang++-14 >/dev/null && \
		ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a >/dev/null 2>&1 || \
		$$([ "$$(id -u)" -eq 0 ] || echo sudo) apt-get install -y clang-14 libclang-rt-14-dev
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DKELNO_FUZZ=ON -DKELNO_BUILD_TESTS=OFF \
		-DKELNO_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELNO_SANITIZE=address,undefined \
		-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
	cmake --build build-fuzz -j $(JOBS) $(addprefix --target fuzz_,$(FUZZ_TARGETS))
	for target in $(FUZZ_TARGETS); do \
		mkdir -p build-fuzz/corpus/$$target build-fuzz/findings/$$target && \
		$(SANITIZER_ENV) ./build-fuzz/fuzz/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
			-artifact_prefix=build-fuzz/findings/$$target/ \
			build-fuzz/corpus/$$target fuzz/corpus/$$target \
			$$(ls -d build-fuzz/fuzz/seeds/$$target 2>/dev/null) || exit 1; \
	done

clean:
	rm -rf build build-asan build-tsan build-fuzz build-soak build-armhf build-bench-armhf build-package dist
