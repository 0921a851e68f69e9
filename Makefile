# The two everyday commands: `make run` and `make test`. Both install what is
# missing (Debian packages, needs root or sudo), configure and build first.
BUILD ?= build
CMAKE_FLAGS ?=
CTEST_ARGS ?=
TARGETS ?=

.PHONY: deps configure build run test tsan demo bench clean

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) $(if $(TARGETS),--target $(TARGETS))

run: build
	@./$(BUILD)/capture/quorvane-capture

test: build
	@ctest --test-dir $(BUILD) --output-on-failure $(CTEST_ARGS)

# The threaded code under ThreadSanitizer: the tests labelled "threads".
tsan:
	@$(MAKE) --no-print-directory test BUILD=build-tsan \
	  CMAKE_FLAGS="$(CMAKE_FLAGS) -DQUORVANE_SANITIZE=thread" CTEST_ARGS="-L threads"

clean:
	rm -rf build build-asan build-tsan

# The main job end to end on a private X display (see README).
demo: build
	@scripts/demo
