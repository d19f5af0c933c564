// Cost of RebuildModeList on stand-in displays of 100, 1,000 and 10,000 modes.
// Every iteration is a full rebuild: enumeration, filters, folding and sort.
#include "display/modelist.h"
#include "settings/settings.h"
#include "stub.h"

#include <windows.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Resolution {
    DWORD width;
    DWORD height;
};

// Resolutions a driver commonly offers, in its usual order by width.
const Resolution CommonResolutions[] = {
    {320, 200},   {320, 240},   {400, 300},   {512, 384},   {640, 400},   {640, 480},   {720, 480},
    {720, 576},   {800, 600},   {1024, 768},  {1152, 864},  {1280, 720},  {1280, 768},  {1280, 800},
    {1280, 960},  {1280, 1024}, {1360, 768},  {1366, 768},  {1400, 1050}, {1440, 900},  {1600, 900},
    {1600, 1200}, {1680, 1050}, {1792, 1344}, {1856, 1392}, {1920, 1080}, {1920, 1200}, {1920, 1440},
    {2048, 1536}, {2560, 1440}, {2560, 1600}, {3200, 2400}, {3840, 2160},
};

const DWORD Rates[] = {56, 60, 66, 70, 72, 75, 85, 90, 100, 120, 144, 165};
const DWORD Depths[] = {8, 16, 32};

// Past the common list, custom resolutions: three in five 4:3, the rest
// 16:9, 16:10 and 5:4. Odd multipliers keep them clear of the common list.
Resolution ExtraResolution(std::size_t n)
{
    const DWORD group = static_cast<DWORD>(n / 5);
    switch (n % 5) {
    case 3:
        return Resolution{16 * (41 + 2 * group), (group % 2 == 0 ? 9 : 10) * (41 + 2 * group)};
    case 4:
        return Resolution{5 * (129 + 2 * group), 4 * (129 + 2 * group)};
    default: {
        const DWORD k = 161 + 2 * (3 * group + static_cast<DWORD>(n % 5));
        return Resolution{4 * k, 3 * k};
    }
    }
}

// Resolution by resolution, each at every depth, the low ones at 2 rates and
// the others at 4 to 12 (at most 3 on a small display); most list their rates
// ascending, one in four descending as some drivers do.
std::vector<stub::Mode> MakeDisplay(std::size_t count)
{
    std::vector<stub::Mode> modes;
    const std::size_t common = sizeof CommonResolutions / sizeof CommonResolutions[0];
    const std::size_t rateCount = sizeof Rates / sizeof Rates[0];
    const std::size_t maxRates = count <= 100 ? 3 : rateCount;
    for (std::size_t r = 0; modes.size() < count; ++r) {
        const Resolution res = r < common ? CommonResolutions[r] : ExtraResolution(r - common);
        const std::size_t rates = res.width < 640 ? 2 : std::min(maxRates, 4 + (r * 7) % (rateCount - 3));
        const bool descending = r % 4 == 3;
        for (DWORD depth : Depths) {
            for (std::size_t i = 0; i < rates && modes.size() < count; ++i) {
                const DWORD rate = Rates[descending ? rates - 1 - i : i];
                modes.push_back(stub::Mode{res.width, res.height, depth, rate});
            }
        }
    }
    return modes;
}

void Seed(const std::vector<stub::Mode>& modes)
{
    stub::Reset();
    stub::SeedModes(modes);
    stub::SeedCurrentMode({1024, 768, 32, 60});
}

// The stand-in logs every call; clear it now and then, off the clock, so that
// the log neither grows without bound nor dominates the timing.
const std::size_t CallLogLimit = 200000;

void RebuildModeListBench(benchmark::State& state, bool allModes)
{
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    const std::vector<stub::Mode> modes = MakeDisplay(count);
    Settings = SettingsRecord{allModes ? 0u : 640u, allModes, false};
    Seed(modes);
    // The current mode, every index and the first that fails.
    const int enumerationCalls = static_cast<int>(count) + 2;
    int rebuildsSinceSeed = 0;
    bool everyRebuildEnumerated = true;
    for (auto _ : state) {
        RebuildModeList();
        benchmark::DoNotOptimize(ModeList.data());
        ++rebuildsSinceSeed;
        if (stub::Calls().size() > CallLogLimit) {
            state.PauseTiming();
            everyRebuildEnumerated = everyRebuildEnumerated &&
                                     stub::CountCalls("EnumDisplaySettingsA") == rebuildsSinceSeed * enumerationCalls;
            Seed(modes);
            rebuildsSinceSeed = 0;
            state.ResumeTiming();
        }
    }
    everyRebuildEnumerated = everyRebuildEnumerated &&
                             stub::CountCalls("EnumDisplaySettingsA") == rebuildsSinceSeed * enumerationCalls;
    if (!everyRebuildEnumerated) {
        state.SkipWithError("a rebuild did not enumerate the whole display");
    }
    // Per unit of enumerated modes times list length: a cost that grows no
    // faster than that product keeps this figure from rising with the size.
    const std::size_t listLength = ModeList.size();
    const std::size_t work = count * (listLength > 0 ? listLength : 1);
    state.counters["enumerated"] = static_cast<double>(count);
    state.counters["listLength"] = static_cast<double>(listLength);
    state.counters["perEnumTimesLen"] = benchmark::Counter(
        static_cast<double>(work), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetComplexityN(static_cast<std::int64_t>(work));
    Settings = SettingsRecord{640, false, false};
    std::vector<DisplayMode>().swap(ModeList);
}

// The stand-in's own share of a rebuild: the same enumeration, nothing kept.
void StandInEnumerationBench(benchmark::State& state)
{
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    const std::vector<stub::Mode> modes = MakeDisplay(count);
    Seed(modes);
    DEVMODEA devmode;
    std::memset(&devmode, 0, sizeof devmode);
    devmode.dmSize = sizeof devmode;
    for (auto _ : state) {
        for (DWORD i = 0; EnumDisplaySettingsA(nullptr, i, &devmode) != 0; ++i) {
            benchmark::DoNotOptimize(devmode.dmPelsWidth);
        }
        if (stub::Calls().size() > CallLogLimit) {
            state.PauseTiming();
            Seed(modes);
            state.ResumeTiming();
        }
    }
    state.counters["enumerated"] = static_cast<double>(count);
}

} // namespace

BENCHMARK(StandInEnumerationBench)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(RebuildModeListBench, defaults, false)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);
BENCHMARK_CAPTURE(RebuildModeListBench, allModes, true)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

BENCHMARK_MAIN();
