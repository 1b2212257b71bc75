# Two commands work on a fresh machine as root: `make demo` and `make test`.
# Both install what is missing (Debian packages, the .venv), build and run.

VENV := .venv
PY := $(VENV)/bin/python
CMAKE := $(VENV)/bin/cmake
CTEST := $(VENV)/bin/ctest
CPP_BUILD := build/cpp
JOBS ?= 2

APT_PACKAGES := g++ make libdeflate-dev libssl-dev nlohmann-json3-dev libgtest-dev \
	clang libclang-rt-14-dev libexpat1-dev unzip zip python3-venv

.PHONY: deps venv build demo test fuzz bench clean

deps:
	@missing=""; for p in $(APT_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

$(VENV)/.installed: requirements-dev.txt
	python3 -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q -r requirements-dev.txt
	touch $@

venv: deps $(VENV)/.installed

# One CMake build serves both: pip builds the extension (scikit-build-core)
# in build/cpp together with the C++ tests and benchmarks, and ctest runs there.
build: venv
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PY) -m pip install -q --no-build-isolation \
	  -C build-dir=$(CPP_BUILD) -C cmake.define.ZANDREL_TESTS=ON -C cmake.define.ZANDREL_BENCH=ON .

demo: build
	$(PY) examples/demo.py examples/sample.pptx examples/out/sample-roundtrip.pptx

test: build
	$(CTEST) --test-dir $(CPP_BUILD) --output-on-failure -j $(JOBS)
	$(PY) -m pytest -q tests

fuzz: venv
	CXX=clang++ $(CMAKE) -S fuzz -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build build/fuzz -j $(JOBS)

bench: build
	$(PY) bench/run_benchmarks.py

clean:
	rm -rf build examples/out
