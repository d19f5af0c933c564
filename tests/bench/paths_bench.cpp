// Cost of the two paths a person waits for: a one-shot switch whose rate is
// found by walking the display's modes, and opening the tray menu.
#include "app/app.h"
#include "display/display.h"
#include "display/modelist.h"
#include "settings/settings.h"
#include "stub.h"
#include "stub_window.h"
#include "tray/menu.h"

#include <windows.h>

#include <benchmark/benchmark.h>

#include <cstddef>
#include <vector>

namespace {

// A display of 1,000 modes: 4:3 resolutions at three depths and ten rates.
std::vector<stub::Mode> ThousandModes()
{
    std::vector<stub::Mode> modes;
    const DWORD depths[] = {8, 16, 32};
    for (DWORD k = 0; modes.size() < 1000; ++k) {
        for (DWORD depth : depths) {
            for (DWORD rate = 60; rate < 160 && modes.size() < 1000; rate += 10) {
                modes.push_back(stub::Mode{640 + 40 * k, 480 + 30 * k, depth, rate});
            }
        }
    }
    // The wanted mode stands at the end, so the walk cannot stop early unnoticed.
    modes.back() = stub::Mode{1024, 768, 32, 85};
    return modes;
}

// The stand-in logs every call; clear it off the clock now and then.
void TrimCallLog(benchmark::State& state, const std::vector<stub::Mode>& modes)
{
    if (stub::Calls().size() > 100000) {
        state.PauseTiming();
        stub::Reset();
        stub::SeedModes(modes);
        stub::SeedCurrentMode({800, 600, 32, 60});
        state.ResumeTiming();
    }
}

void OneShotSwitch(benchmark::State& state)
{
    const std::vector<stub::Mode> modes = ThousandModes();
    stub::Reset();
    stub::SeedModes(modes);
    stub::SeedCurrentMode({800, 600, 32, 60});
    for (auto _ : state) {
        DisplayMode mode = {0, 0, 0, 0};
        if (HandleCommandLine("1024x768x32", mode) != CMDLINE_APPLY || ApplyDisplayMode(mode) != 0 ||
            mode.frequency != 85) {
            state.SkipWithError("the one-shot path did not switch to 1024x768 at 85 Hz");
            break;
        }
        TrimCallLog(state, modes);
    }
    state.counters["enumerated"] = static_cast<double>(modes.size());
}

void OpenTrayMenu(benchmark::State& state)
{
    stub::Reset();
    std::vector<DisplayMode>().swap(ModeList);
    for (std::uint32_t i = 0; i < 500; ++i) {
        ModeList.push_back(DisplayMode{640 + 4 * i, 480 + 3 * i, 60 + i % 100, 32});
    }
    Settings = SettingsRecord{640, false, false};
    for (auto _ : state) {
        HMENU menu = BuildTrayMenu(QueryCurrentMode());
        benchmark::DoNotOptimize(menu);
        DestroyMenu(menu);
        TrimCallLog(state, {});
    }
    if (stub::LiveMenus() != 0) {
        state.SkipWithError("a menu was not freed");
    }
    state.counters["entries"] = static_cast<double>(ModeList.size());
    std::vector<DisplayMode>().swap(ModeList);
}

} // namespace

BENCHMARK(OneShotSwitch)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenTrayMenu)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
