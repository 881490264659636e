# Two commands for a newcomer: `make test` and `make demo`. Both install what is missing
# first (apt packages, pip packages, the package itself); repeat runs skip what is done
# and rebuild incrementally.

PYTHON ?= python3
APT_PACKAGES := build-essential cmake ninja-build ccache libeigen3-dev libopenblas-dev libgtest-dev
PIP_PACKAGES := numpy scipy pytest scikit-build-core pybind11 ninja statsmodels matplotlib
JOBS ?= $(shell nproc)
CPP_BUILD := build/cpp
ASAN_BUILD := build/asan
STAMP := build/stamps

.PHONY: setup system-deps python-deps install test test-cpp test-python demo bench asan clean

setup: system-deps python-deps

system-deps: $(STAMP)/apt
$(STAMP)/apt:
	@mkdir -p $(STAMP)
	@missing=""; for pkg in $(APT_PACKAGES); do \
	  dpkg -s $$pkg >/dev/null 2>&1 || missing="$$missing $$pkg"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi
	@touch $@

python-deps: $(STAMP)/pip
$(STAMP)/pip: | $(STAMP)/apt
	@mkdir -p $(STAMP)
	@$(PYTHON) -m pip install -q --disable-pip-version-check $(PIP_PACKAGES)
	@touch $@

SOURCES := $(shell find src bindings python -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.py' -o -name '*.csv' \) 2>/dev/null) CMakeLists.txt pyproject.toml

install: $(STAMP)/install
$(STAMP)/install: $(SOURCES) | $(STAMP)/pip
	$(PYTHON) -m pip install -q --disable-pip-version-check --no-build-isolation \
	  -Ccmake.build-type=Release -Cbuild.tool-args=-j$(JOBS) \
	  -Ccmake.define.KRELM_WERROR=$(WERROR) $(LAUNCHER_DEFINE_PIP) .
	@touch $@

$(CPP_BUILD)/build.ninja: CMakeLists.txt | $(STAMP)/apt
	cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DKRELM_BUILD_TESTS=ON -DKRELM_BUILD_PYTHON=OFF -DKRELM_WERROR=$(WERROR) $(LAUNCHER_DEFINE)

WERROR ?= OFF
# ccache lets the extension build reuse the core objects of the C++ test build. Looked up
# when a recipe runs, after the system packages are installed.
LAUNCHER_DEFINE = $$(command -v ccache >/dev/null && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
LAUNCHER_DEFINE_PIP = $$(command -v ccache >/dev/null && \
  echo -Ccmake.define.CMAKE_CXX_COMPILER_LAUNCHER=ccache)

test-cpp: $(CPP_BUILD)/build.ninja | $(STAMP)/pip
	cmake --build $(CPP_BUILD) -j $(JOBS)
	ctest --test-dir $(CPP_BUILD) --output-on-failure -j $(JOBS)

test-python: install
	cd tests/python && $(PYTHON) -m pytest -q -c ../../pyproject.toml --rootdir ../.. .

test: setup test-cpp test-python

demo: setup install
	$(PYTHON) -m krelm demo

# The benchmarks need the work counters, which only a separate benchmark build exposes.
BENCH_BUILD := build/bench
bench: setup
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRELM_BUILD_PYTHON=ON \
	  -DKRELM_BUILD_TESTS=OFF -DKRELM_BENCHMARK_HOOKS=ON \
	  -Dpybind11_DIR=$$($(PYTHON) -m pybind11 --cmakedir)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target _krelm_native
	rm -rf $(BENCH_BUILD)/stage && mkdir -p $(BENCH_BUILD)/stage/krelm
	cp -r python/krelm/. $(BENCH_BUILD)/stage/krelm/
	cp $(BENCH_BUILD)/_krelm_native*.so $(BENCH_BUILD)/stage/krelm/
	PYTHONPATH=$(BENCH_BUILD)/stage $(PYTHON) benchmarks/run_benchmarks.py $(BENCH_ARGS)

# Core and C++ tests under AddressSanitizer and UBSan (the extension is not built: it
# would need the sanitizer runtime preloaded into Python).
asan: | $(STAMP)/apt $(STAMP)/pip
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKRELM_SANITIZE=ON \
	  -DKRELM_BUILD_TESTS=ON -DKRELM_BUILD_PYTHON=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf build
