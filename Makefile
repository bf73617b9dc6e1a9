# Set-up, build and test entry points. Each target installs what is missing first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test asan tsan bench fuzz clean

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/kavaroxp

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer + UBSan, and under ThreadSanitizer.
asan:
	$(MAKE) test BUILD_DIR=build-asan BUILD_TYPE=Debug CMAKE_FLAGS=-DKX_SANITIZE=address
tsan:
	$(MAKE) test BUILD_DIR=build-tsan BUILD_TYPE=Debug CMAKE_FLAGS=-DKX_SANITIZE=thread

# libFuzzer targets (clang), each run for FUZZ_SECONDS over the saved corpus;
# new inputs land in build-fuzz/new (copy the telling ones to tests/fuzz/corpus, which
# `make test` replays). Not needed by `make test`.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = http_request cookie base64_auth uri dates asf_packetizer stream_request
fuzz:
	@bash scripts/install-deps --fuzz
	@command -v clang++ >/dev/null || { echo "make fuzz needs clang++ (scripts/install-deps --fuzz)"; exit 1; }
	@cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/new/$$t; \
	  ./build-fuzz/tests/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -max_len=4096 \
	    build-fuzz/new/$$t tests/fuzz/corpus/$$t 2>&1 | grep -E "^#[0-9]+.*DONE|ERROR|SUMMARY" ; \
	done

clean:
	rm -rf build build-asan build-tsan build-fuzz
