# make build: the 32-bit product (i686), with its import and PE checks.
# make test:  install what is missing, build, run every test.
# make run:   install what is missing, build, run quorvel-emu.exe.
# make tap:   the same on a real serial line (DEVICE=...), or on the simulated modem.
# make watch: every serial device's traffic in the monitor, programs unchanged (DEVICE=... optional; root).
# make replay: a session captured by the tap (FILE=...), replayed in the monitor.
# make install, make uninstall: quorvel-tap and what it runs, under PREFIX.
# make bench: build and run the capture benchmark (not part of make test).
# make soak:  long runs (not part of make test).
#
# Tests, run and bench use the build for the architecture that this machine
# can execute: i686 under 32-bit Wine where the kernel runs 32-bit programs
# and 32-bit Wine can be installed, otherwise x86_64 under 64-bit Wine (in
# $(BUILD_DIR)/x86_64). QUORVEL_ARCH=i686 or x86_64 forces one.
BUILD_DIR ?= build
JOBS ?= 2

ifeq ($(origin QUORVEL_ARCH), undefined)
# Chosen once, at its first use (`make build` never needs it): the choice may
# install 32-bit Wine.
QUORVEL_ARCH = $(eval QUORVEL_ARCH := $(shell scripts/choose-arch.sh $(BUILD_DIR)))$(QUORVEL_ARCH)
else ifeq ($(filter i686 x86_64,$(QUORVEL_ARCH)),)
$(error QUORVEL_ARCH must be i686 or x86_64, not '$(QUORVEL_ARCH)')
endif
RUN_DIR = $(if $(filter i686,$(QUORVEL_ARCH)),$(BUILD_DIR),$(BUILD_DIR)/x86_64)

# The toolchain is given when a build folder is first configured; later runs
# keep the one in its cache.
configure = cmake -S . -B $(1) $(if $(wildcard $(1)/CMakeCache.txt),,-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$(2)-mingw32.cmake) >/dev/null
check_product = python3 scripts/check-pe.py --machine i386 $(BUILD_DIR)/quorvel.exe $(BUILD_DIR)/quorvel-emu.exe

.PHONY: all build product test run tap watch replay bench soak fuzz clean install uninstall

all: build

# Everything of the 32-bit build: the product, the stand-in, the tests.
build:
	@scripts/setup.sh build
	@$(call configure,$(BUILD_DIR),i686)
	@cmake --build $(BUILD_DIR) -j $(JOBS)
	@$(check_product)

# Only the two 32-bit executables, where the tests run another build.
product:
	@scripts/setup.sh build
	@$(call configure,$(BUILD_DIR),i686)
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target quorvel quorvel-emu driver_files
	@$(check_product)

# The build that runs here, in RUN_DIR: $(1) its targets (all when empty),
# $(2) what setup.sh installs for.
define run_build
	@scripts/setup.sh $(2) $(QUORVEL_ARCH)
	@$(call configure,$(RUN_DIR),$(QUORVEL_ARCH))
	@cmake --build $(RUN_DIR) -j $(JOBS) $(1)
endef

# Where the tests run the 32-bit build, it is the whole build; elsewhere the
# 32-bit product is still built and checked, and the tests run the other one.
test:
	@echo "make test: testing the $(QUORVEL_ARCH) build in $(RUN_DIR) under $(if $(filter x86_64,$(QUORVEL_ARCH)),64,32)-bit Wine"
	@scripts/setup.sh test $(QUORVEL_ARCH)
	@$(MAKE) --no-print-directory $(if $(filter i686,$(QUORVEL_ARCH)),build,product)
	$(if $(filter x86_64,$(QUORVEL_ARCH)),$(call run_build,,test))
	@scripts/test-session.sh $(RUN_DIR)

run:
	$(call run_build,--target quorvel-emu driver_files,run)
	@scripts/run.sh $(RUN_DIR)

# The monitor on a real serial line: DEVICE=/dev/ttyUSB0 [BAUD=9600]
# [FORMAT=8N1], or SNIFF_TX=... SNIFF_RX=...; without them, on the simulated
# modem. quorvel-tap owns the line and starts the monitor (--help says more).
TAP_ARGUMENTS = $(if $(BAUD),--baud '$(BAUD)') $(if $(FORMAT),--format '$(FORMAT)') \
	$(if $(SNIFF_TX)$(SNIFF_RX),--sniff '$(SNIFF_TX)' '$(SNIFF_RX)',$(if $(DEVICE),'$(DEVICE)'))
tap:
	$(call run_build,--target quorvel-emu driver_files quorvel-pty-modem quorvel-tap,run)
	@$(RUN_DIR)/linux/quorvel-tap $(TAP_ARGUMENTS)

# The monitor beside every serial device (or DEVICE=/dev/ttyUSB0 ... only
# those), watched in the kernel while programs use them unchanged: root, or
# CAP_BPF and CAP_PERFMON. quorvel-watch starts the monitor (--help says more).
watch:
	$(call run_build,--target quorvel-emu driver_files quorvel-tap,run)
	@$(RUN_DIR)/linux/quorvel-watch $(DEVICE)

# A captured session replayed in the monitor: FILE=session.pcap [SPEED=max].
replay:
	$(call run_build,--target quorvel-emu driver_files,run)
	@scripts/replay.sh $(RUN_DIR) "$(FILE)" "$(SPEED)"

# quorvel-tap and what it runs, under PREFIX (/usr/local by default); its
# Wine prefix then lives in the user's data folder.
PREFIX ?= /usr/local
install:
	$(call run_build,--target quorvel-emu driver_files quorvel-pty-modem quorvel-tap,run)
	@scripts/install.sh $(RUN_DIR) "$(PREFIX)"

uninstall:
	@scripts/uninstall.sh "$(PREFIX)"

bench:
	$(call run_build,--target capture_bench,test)
	@scripts/bench-session.sh $(RUN_DIR) $(BENCH_ARGS)

# The pure code's fuzz targets, FUZZ_SECONDS each (60 by default), natively
# with sanitizers.
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/setup.sh test $(QUORVEL_ARCH)
	@scripts/fuzz.sh $(FUZZ_SECONDS) $(BUILD_DIR)

# Long runs: the port churn for CHURN_SECONDS (5 minutes by default), then
# the capture soak for SOAK_SECONDS (10 minutes by default).
SOAK_SECONDS ?= 600
CHURN_SECONDS ?= 300
soak:
	$(call run_build,,test)
	@QUORVEL_CHURN_SECONDS=$(CHURN_SECONDS) scripts/run-in-session.sh $(RUN_DIR) tests/ui_tests.exe --gtest_filter='ChurnTest.*'
	@scripts/bench-session.sh $(RUN_DIR) --soak=$(SOAK_SECONDS)

clean:
	rm -rf $(BUILD_DIR)
