# make run   – install what is missing, build, start the program
# make test  – install what is missing, build, run every test (headless)
# make bench – build and run the benchmarks (bench/CMakeLists.txt lists them)
# make package – build the Debian package (.deb) in the build folder
BUILD ?= build
TSAN_BUILD ?= $(BUILD)-tsan
JOBS ?= $(shell nproc)
# The tests that start threads, run again under ThreadSanitizer (not those
# whose unprivileged child forks from a process with threads: the checker
# cannot follow that).
TSAN_TESTS = test_listing test_commands test_gui_progress test_gui_batch test_gui_keywords

.PHONY: deps configure build run test tsan bench package clean

deps:
	@bash scripts/install-deps.sh

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

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory tsan

tsan: deps
	@[ -f $(TSAN_BUILD)/build.ninja ] || cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEMLO_TSAN=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TESTS)
	cd $(TSAN_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -R '^($(subst $() ,|,$(TSAN_TESTS)))$$'

bench: build
	@start=$$(date +%s); cmake --build $(BUILD) --target bench && \
	  echo "make bench: $$(( $$(date +%s) - start )) s"

package: build
	cmake --build $(BUILD) --target package
	@ls -l $(BUILD)/*.deb

clean:
	rm -rf $(BUILD) $(TSAN_BUILD)
