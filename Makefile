# The two commands: `make demo` (build, install the demo package under Wine, print what the actions
# did) and `make test` (build and run every test). Both install missing Debian packages first and
# use the private Wine prefix build/wine.
BUILD := build
CMAKE_FLAGS := -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
JOBS ?= 2

.PHONY: all deps configure build test demo bench fuzz format clean package

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	@scripts/prepare-wine $(BUILD)
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS); rc=$$?; cd .. ; scripts/stop-wine $(BUILD); exit $$rc

demo: build
	@scripts/prepare-wine $(BUILD)
	@scripts/demo $(BUILD); rc=$$?; scripts/stop-wine $(BUILD); exit $$rc

bench: configure
	cmake --build $(BUILD) -j $(JOBS) --target bench
	@scripts/prepare-wine $(BUILD)
	@WINE_BUILD_DIR=$(abspath $(BUILD)) scripts/wine-run $(BUILD)/bench.exe $(BENCH_ARGS); rc=$$?; scripts/stop-wine $(BUILD); exit $$rc

# Mutation fuzzing of the XML parser and the zip reader (fuzz/) for FUZZ_SECONDS in all; FUZZ_ARGS
# adds options (--seed S, --only xml|zip, --index I, --threads N). The zip reader extracts into
# $(BUILD)/fuzz-sandbox (about 1.5 GB after a default run), removed in the background afterwards.
FUZZ_SECONDS ?= 600
fuzz: configure
	cmake --build $(BUILD) -j $(JOBS) --target fuzz
	@scripts/prepare-wine $(BUILD)
	@rm -rf $(BUILD)/fuzz-sandbox; WINE_BUILD_DIR=$(abspath $(BUILD)) scripts/wine-run $(BUILD)/fuzz.exe \
	  --seconds $(FUZZ_SECONDS) --sandbox 'Z:$(subst /,\,$(abspath $(BUILD))/fuzz-sandbox)' $(FUZZ_ARGS); \
	  rc=$$?; mv $(BUILD)/fuzz-sandbox $(BUILD)/fuzz-sandbox.old.$$$$ && (rm -rf $(BUILD)/fuzz-sandbox.old.$$$$ &); \
	  scripts/stop-wine $(BUILD); exit $$rc

# The release package dist/OrvantCA-<version>.zip (the version is in the file VERSION).
package: configure
	cmake --build $(BUILD) -j $(JOBS) --target OrvantCA orvrun
	@scripts/make-package . $(BUILD) dist

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	-scripts/stop-wine $(BUILD)
	rm -rf $(BUILD)
