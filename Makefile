# Set-up, build and test entry points. Each target installs what is missing first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test asan tsan bench fuzz clean install uninstall deb
PREFIX ?= /usr/local
DESTDIR ?=

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

# `sudo make install` after `make` (PREFIX, DESTDIR honoured); `make uninstall`
# (with the same DESTDIR) removes exactly what the last install wrote, as its
# list of files records. The list is moved aside because every install, the
# tests' and cpack's included, rewrites CMake's own.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)" --strip
	mv $(BUILD_DIR)/install_manifest.txt $(BUILD_DIR)/installed-files.txt
uninstall:
	@test -f $(BUILD_DIR)/installed-files.txt || { echo "nothing installed from $(BUILD_DIR)"; exit 1; }
	@while IFS= read -r f || [ -n "$$f" ]; do rm -fv "$(DESTDIR)$$f"; done < $(BUILD_DIR)/installed-files.txt
	@sed -n 's|/kavaroxp/.*|/kavaroxp|p' $(BUILD_DIR)/installed-files.txt | sort -u | while read -r d; do \
	  find "$(DESTDIR)$$d" -depth -type d -empty -delete 2>/dev/null || true; done
	@rm -f $(BUILD_DIR)/installed-files.txt

# The Debian package: build/kavaroxp_<version>_<arch>.deb.
deb: build
	cd $(BUILD_DIR) && cpack -G DEB

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
