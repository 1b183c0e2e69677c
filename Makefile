# make run   – install what building needs, build, start the program
# make test  – install what building and testing need, build, run every
#              test (headless), then those labelled threads again under
#              ThreadSanitizer
# make bench – build and run the benchmarks (bench/CMakeLists.txt lists them)
# make package – install what building needs, build the Debian package (.deb)
#              in the build folder
BUILD ?= build
TSAN_BUILD ?= $(BUILD)-tsan
JOBS ?= $(shell nproc)

.PHONY: deps deps-test configure build run test tsan bench package clean

deps:
	@bash scripts/install-deps.sh build

deps-test: deps
	@bash scripts/install-deps.sh test

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "没有图形显示（DISPLAY 未设置）。No display: run it under a virtual one with  xvfb-run make run"; \
	  exit 1; \
	fi
	./$(BUILD)/vemlo

test: deps-test build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory tsan

# The tests labelled threads (tests/CMakeLists.txt), built and run again
# under ThreadSanitizer, with the checker's own check among them.
tsan: deps-test
	@[ -f $(TSAN_BUILD)/build.ninja ] || cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEMLO_TSAN=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target vemlo_threads_tests
	cd $(TSAN_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -L threads

bench: deps-test build
	@start=$$(date +%s); cmake --build $(BUILD) --target bench && \
	  echo "make bench: $$(( $$(date +%s) - start )) s"

package: build
	cmake --build $(BUILD) --target package
	@ls -l $(BUILD)/*.deb

clean:
	rm -rf $(BUILD) $(TSAN_BUILD)
