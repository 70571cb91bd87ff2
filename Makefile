# make test: install what is missing, build, run every test.
# make run:  install what is missing, build, run quorvel-emu.exe.
# make bench: build and run the capture benchmark (not part of make test).
BUILD_DIR ?= build
JOBS ?= 2

.PHONY: all build test run clean

all: build

build:
	@scripts/setup.sh test
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw32.cmake >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@scripts/test-session.sh $(BUILD_DIR)

run:
	@scripts/setup.sh run
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw32.cmake >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target quorvel-emu driver_files
	@scripts/run.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)

.PHONY: bench
bench:
	@scripts/setup.sh test
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw32.cmake >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target capture_bench
	@scripts/bench-session.sh $(BUILD_DIR) $(BENCH_ARGS)
