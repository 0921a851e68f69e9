# The two everyday commands: `make run` and `make test`. Both install what is
# missing (Debian packages, needs root or sudo), configure and build first.
BUILD ?= build
CMAKE_FLAGS ?=
CTEST_ARGS ?=
TARGETS ?=
# What a user runs: the two programs and the job modules they load.
PROGRAMS = quorvane-capture quorvane
# What is installed: the programs and their manual pages.
INSTALLED = $(PROGRAMS) quorvane-docs
PREFIX ?= /usr/local
# Tests run side by side: none holds a fixed port, display or path.
JOBS ?= $(shell nproc)

.PHONY: deps configure build run demo test tsan install package bench clean

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) $(if $(TARGETS),--target $(TARGETS))

# The main job end to end on a private X display (see README): a window
# recorded for three seconds, its events, the movie and its contact sheet.
run:
	@$(MAKE) --no-print-directory build TARGETS="$(PROGRAMS)"
	@BUILD=$(BUILD) scripts/demo

demo: run

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS) $(CTEST_ARGS)

# The threaded code under ThreadSanitizer: the tests labelled "threads", and
# only what they need built.
tsan:
	@$(MAKE) --no-print-directory test BUILD=build-tsan TARGETS=quorvane_threads_tests \
	  CMAKE_FLAGS="$(CMAKE_FLAGS) -DQUORVANE_SANITIZE=thread" CTEST_ARGS="-L threads"

# The programs and their job modules under $(PREFIX) (bin/, lib/quorvane/);
# only what is installed is built.
install:
	@$(MAKE) --no-print-directory build TARGETS="$(INSTALLED)"
	@cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package of the same, in $(BUILD)/ (its dependencies from shlibdeps;
# .ci/check-package checks it with lintian).
package:
	@$(MAKE) --no-print-directory build TARGETS="$(INSTALLED)"
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf build build-asan build-tsan
