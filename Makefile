# Entry points; each installs missing packages first.
#   make run   builds and starts kelnod on config/kelnod.conf (Ctrl-C stops it)
#   make test  builds and runs every test, then again under the sanitizers

JOBS ?= 2
CTEST = ctest --output-on-failure -j $(JOBS) --no-tests=error
SANITIZER_ENV = ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1 \
                UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
                TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/scripts/tsan.supp"

.PHONY: deps build run test test-plain test-asan test-tsan clean

deps:
	@./scripts/install-deps.sh

build: deps
	cmake -S . -B build -DKELNO_WERROR=ON
	cmake --build build -j $(JOBS)

run: build
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

clean:
	rm -rf build build-asan build-tsan
