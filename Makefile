# One entry point: `make test` runs every tier, `make demo` builds everything and runs the
# demonstration under Wine, `make bench` prints the performance figures. All of them install
# what they need on a fresh Debian 12 machine.
MAKEFLAGS += --no-print-directory
PRESETS := native win64 win32

.PHONY: all deps build test demo bench soak clean $(addprefix build-,$(PRESETS))

all: build

deps:
	@scripts/deps.sh

build: $(addprefix build-,$(PRESETS))

$(addprefix build-,$(PRESETS) fuzz): build-%: deps
	cmake --preset $* >/dev/null
	cmake --build --preset $*

test: build build-fuzz
	scripts/run-tests.sh

demo: build
	scripts/demo.sh

bench: build
	scripts/bench.sh

soak: build
	scripts/soak.sh

clean:
	rm -rf build
