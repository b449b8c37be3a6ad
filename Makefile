# Entry points for people and CI: `make` builds, `make test` builds and runs every test,
# `make run` extracts the text of the bundled sample drawings.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: all deps configure build test test-repeat run install package bench fuzz fuzz-build fuzz-smoke check32 check sanitize clang coverage clean

all: build

# Installs what the build needs from Debian's packages when it is missing.
deps:
	@missing=""; \
	command -v cmake >/dev/null || missing="$$missing cmake"; \
	command -v g++ >/dev/null || missing="$$missing g++"; \
	command -v clang++ >/dev/null || missing="$$missing clang"; \
	command -v nm >/dev/null || missing="$$missing binutils"; \
	command -v python3 >/dev/null || missing="$$missing python3"; \
	command -v pkg-config >/dev/null || missing="$$missing pkg-config"; \
	command -v groff >/dev/null || missing="$$missing groff-base"; \
	command -v dpkg-shlibdeps >/dev/null || missing="$$missing dpkg-dev"; \
	command -v file >/dev/null || missing="$$missing file"; \
	/usr/bin/python3 -c "import distributed" 2>/dev/null || missing="$$missing python3-distributed python3-dask"; \
	[ -x /usr/bin/time ] || missing="$$missing time"; \
	[ -f /usr/include/archive.h ] || missing="$$missing libarchive-dev"; \
	[ -f /usr/include/pybind11/pybind11.h ] || missing="$$missing pybind11-dev"; \
	/usr/bin/python3 -c "import os, sysconfig; open(os.path.join(sysconfig.get_paths()['include'], 'Python.h'))" \
	  2>/dev/null || missing="$$missing python3-dev"; \
	/usr/bin/python3 -c "import libarchive" 2>/dev/null || missing="$$missing python3-libarchive-c"; \
	command -v zstd >/dev/null || missing="$$missing zstd"; \
	[ -f /usr/include/gtest/gtest.h ] || missing="$$missing libgtest-dev libgmock-dev"; \
	[ -f /usr/include/benchmark/benchmark.h ] || missing="$$missing libbenchmark-dev"; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  sudo_cmd=""; [ "$$(id -u)" = 0 ] || sudo_cmd=sudo; \
	  $$sudo_cmd apt-get update -q && $$sudo_cmd apt-get install -y -q $$missing; \
	fi

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

configure: $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# A test without a time limit of its own gets five minutes, not ctest's 25: one that
# hangs (a reader going round on an input) fails while CI still has time to report it.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

# The whole suite N times in a row on one build, stopping at the first run that fails: a
# test that passes only by luck shows here.
N ?= 20
test-repeat: build
	@i=1; while [ $$i -le $(N) ]; do \
	  echo "test-repeat: run $$i of $(N)"; \
	  ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300 > $(BUILD)/test-repeat.log 2>&1 || \
	    { cat $(BUILD)/test-repeat.log; echo "test-repeat: run $$i of $(N) failed"; exit 1; }; \
	  grep -E '^[0-9]+% tests passed' $(BUILD)/test-repeat.log; \
	  i=$$((i + 1)); \
	done; echo "test-repeat: all $(N) runs passed"

# The text of every bundled drawing, as UTF-8 whatever code page each one is in.
run: build
	$(BUILD)/bin/dxftext samples

# Installs the plug-in, headers, host toolkit, dxftext, man page, pkg-config files and CMake
# package under PREFIX (DESTDIR stages them elsewhere, as packagers do).
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# A Debian package of the same, under /usr, in build-pkg/: wqdxfrdr_<version>_<arch>.deb.
package: | deps
	cmake -S . -B build-pkg -DCMAKE_INSTALL_PREFIX=/usr -DWQ_PKGCONFIG_PREFIX=/usr \
	      -DCMAKE_BUILD_TYPE=Release -DWQ_TESTS=OFF
	cmake --build build-pkg -j $(JOBS)
	cd build-pkg && cpack -G DEB

# Benchmarks on a generated 64 MiB drawing (the shared generator when present), then the
# table of the plug-in and dxftext on BENCH_BIG_MIB and 8 MiB drawings and two batches of
# small ones beside a memchr pass, and dxflib on the batches (bench/table.py; BENCH_ROUNDS
# rounds, written to $(BUILD)/bench/). dxflib comes from Debian, installed when missing; where
# it cannot be, the table goes without its rows.
BENCH_DRAWING ?= $(BUILD)/bench/drawing-64mb.dxf
BENCH_BIG_MIB ?= 128
BENCH_ROUNDS ?= 5
bench: build
	@if [ ! -f /usr/include/dxflib/dl_dxf.h ]; then \
	  sudo_cmd=""; [ "$$(id -u)" = 0 ] || sudo_cmd=sudo; \
	  $$sudo_cmd apt-get update -q && $$sudo_cmd apt-get install -y -q libdxflib-dev || \
	    echo "libdxflib-dev could not be installed: no dxflib rows"; \
	fi
	@if [ -f /usr/include/dxflib/dl_dxf.h ]; then sh bench/peers/build.sh $(BUILD) dxflib; fi
	@mkdir -p $(dir $(BENCH_DRAWING))
	@if [ ! -f $(BENCH_DRAWING) ]; then \
	  if [ -f ../shared/bench/gen_dxf.py ]; then \
	    /usr/bin/python3 ../shared/bench/gen_dxf.py $(BENCH_DRAWING) 64 1; \
	  else echo "no drawing generator: using the built-in synthetic drawing"; fi; \
	fi
	WQ_BENCH_DRAWING=$$( [ -f $(BENCH_DRAWING) ] && echo $(BENCH_DRAWING) ) $(BUILD)/bin/benchReader
	/usr/bin/python3 bench/table.py --build $(BUILD) --big-mib $(BENCH_BIG_MIB) --rounds $(BENCH_ROUNDS)

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer, and built by clang.
sanitize:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DWQ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

clang:
	$(MAKE) test BUILD=build-clang CMAKE_FLAGS="-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++"

# The suite built by clang with source-based coverage (build-cov/), every program's counts
# merged, then the per-file table of the plug-in's and the toolkit's lines, functions and
# branches covered (also in build-cov/coverage.txt). Left out: the cluster run, and the
# export check, which would find the profile runtime's symbols.
COVERAGE_SOURCES = base entities sections entry host tools
coverage: | deps
	$(MAKE) configure BUILD=build-cov CMAKE_FLAGS="-DWQ_COVERAGE=ON -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++"
	cmake --build build-cov -j $(JOBS)
	@rm -rf build-cov/profiles && mkdir -p build-cov/profiles
	LLVM_PROFILE_FILE=$(CURDIR)/build-cov/profiles/%p-%m.profraw \
	  ctest --test-dir build-cov -j $(JOBS) -E 'distributedRun|exportedSymbols' --output-on-failure
	llvm-profdata merge -sparse build-cov/profiles/*.profraw -o build-cov/suite.profdata
	@objects=$$(for f in build-cov/bin/* build-cov/tests/test*; do \
	  case $$f in *.so) continue ;; esac; \
	  [ -f "$$f" ] && [ -x "$$f" ] && printf -- '-object %s ' "$$f"; done); \
	llvm-cov report build-cov/bin/libwqdxfrdr.so $$objects \
	  -instr-profile=build-cov/suite.profdata $(COVERAGE_SOURCES) > build-cov/coverage.txt && \
	cat build-cov/coverage.txt

# libFuzzer under clang (build-fuzz/), each target for FUZZ_SECONDS with the DXF dictionary:
# fuzzReader over whole documents, fuzzFaults with host calls failing where the input says,
# fuzzHost over the toolkit's own parsing of untrusted bytes. Seeds: tests/corpus, the
# samples and the test drawings (behind a header that fails nothing, for the targets that
# read one) and each target's own folder in fuzz/. A finding stops the run; its input is
# written to build-fuzz/findings/. `make fuzz-smoke` is the short run CI makes.
FUZZ_SECONDS ?= 300
FUZZ_TARGETS = fuzzReader fuzzFaults fuzzHost
FUZZ_SEEDS = tests/corpus/* samples/*.dxf tests/drawings/*.dxf
fuzz-build: | deps
	@runtime=$$(clang --print-runtime-dir)/libclang_rt.fuzzer-x86_64.a; \
	if [ ! -f "$$runtime" ]; then \
	  sudo_cmd=""; [ "$$(id -u)" = 0 ] || sudo_cmd=sudo; \
	  $$sudo_cmd apt-get update -q && \
	  $$sudo_cmd apt-get install -y -q libclang-rt-$$(clang -dumpversion | cut -d. -f1)-dev; \
	fi
	$(MAKE) configure BUILD=build-fuzz CMAKE_FLAGS="-DWQ_FUZZ=ON -DWQ_TESTS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++"
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS)
	@rm -rf build-fuzz/seeds && mkdir -p build-fuzz/findings && \
	for t in $(FUZZ_TARGETS); do mkdir -p build-fuzz/seeds/$$t build-fuzz/corpus/$$t; done && \
	for f in $(FUZZ_SEEDS); do \
	  name=$$(basename "$$f"); cp "$$f" build-fuzz/seeds/fuzzReader/; \
	  { printf '\000\000\000\000\000\000\000\000'; cat "$$f"; } > build-fuzz/seeds/fuzzFaults/$$name; \
	  { printf '\000\000\000'; cat "$$f"; } > build-fuzz/seeds/fuzzHost/$$name; \
	done
	@cp fuzz/corpus-faults/* build-fuzz/seeds/fuzzFaults/ && cp fuzz/corpus-host/* build-fuzz/seeds/fuzzHost/

fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  echo "$$t for $(FUZZ_SECONDS) s (log: build-fuzz/$$t.log)"; \
	  build-fuzz/bin/$$t build-fuzz/corpus/$$t build-fuzz/seeds/$$t -dict=fuzz/dxf.dict \
	    -max_len=4096 -timeout=30 -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=build-fuzz/findings/$$t- > build-fuzz/$$t.log 2>&1; \
	  status=$$?; grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' build-fuzz/$$t.log; \
	  if [ $$status -ne 0 ]; then \
	    tail -n 60 build-fuzz/$$t.log; echo "$$t found a fault: its input is in build-fuzz/findings/"; \
	    exit 1; \
	  fi; \
	done

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=30

# The plug-in and the C host built as 32-bit x86 code (build-i386/, by Debian's i686 cross
# compilers, installed when missing) and run over every drawing at hand: each gives the
# 64-bit build's records, messages and exit status. The fuzz replays run there too.
DRAWINGS = samples/*.dxf tests/corpus/*.dxf tests/drawings/*.dxf $(wildcard ../shared/corpus/real/*.dxf)
check32: build
	@if ! command -v i686-linux-gnu-g++ >/dev/null || [ ! -e /lib/ld-linux.so.2 ] || \
	    [ ! -e /usr/lib32/libstdc++.so.6 ]; then \
	  sudo_cmd=""; [ "$$(id -u)" = 0 ] || sudo_cmd=sudo; \
	  $$sudo_cmd apt-get update -q && \
	  $$sudo_cmd apt-get install -y -q crossbuild-essential-i386 libc6-i386 lib32stdc++6; \
	fi
	cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-gnu.cmake -DWQ_TESTS=OFF
	cmake --build build-i386 -j $(JOBS) --target wqdxfrdr minimalHost fuzzReplay fuzzFaultsReplay fuzzHostReplay
	@# A kernel without 32-bit support (some virtual machines) runs the programs under
	@# qemu's user-mode emulation instead, installed when missing.
	@run32=""; \
	if ! build-i386/bin/fuzzReplay samples/title_block.dxf >/dev/null 2>&1; then \
	  echo "this kernel does not run 32-bit programs: running them under qemu-i386"; \
	  if ! command -v qemu-i386 >/dev/null; then \
	    sudo_cmd=""; [ "$$(id -u)" = 0 ] || sudo_cmd=sudo; \
	    $$sudo_cmd apt-get update -q && $$sudo_cmd apt-get install -y -q --no-install-recommends qemu-user; \
	  fi; \
	  run32=qemu-i386; \
	fi; \
	set -e; \
	$$run32 build-i386/bin/fuzzReplay tests/corpus samples/*.dxf; \
	$$run32 build-i386/bin/fuzzFaultsReplay fuzz/corpus-faults; \
	$$run32 build-i386/bin/fuzzHostReplay fuzz/corpus-host; \
	RUN32=$$run32 sh tests/check32.sh build-i386 $(BUILD) $(DRAWINGS)

check: test sanitize clang

clean:
	rm -rf build build-asan build-clang build-cov build-fuzz build-i386 build-pkg
