#include "describe.h"
#include "display/display.h"
#include "display/modelist.h"
#include "settings/settings.h"
#include "stub.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

class ModeListProperty : public ::testing::Test {
protected:
    void SetUp() override
    {
        stub::Reset();
        Settings = SettingsRecord{640, false, false};
        std::vector<DisplayMode>().swap(ModeList);
    }
    void TearDown() override
    {
        Settings = SettingsRecord{640, false, false};
        std::vector<DisplayMode>().swap(ModeList);
    }
};

// A fixed seed, so that a failing case number names the same list every run.
std::mt19937 Generator(unsigned stream)
{
    return std::mt19937(20240611u + stream); // NOLINT(cert-msc32-c,cert-msc51-cpp)
}

// Few modes, each one field away from another, and few rates, so that most
// random lists hold related entries, repeats and equal rates.
const DisplayMode Keys[] = {
    {640, 480, 0, 32}, {640, 480, 0, 16}, {800, 600, 0, 32}, {640, 600, 0, 32}, {800, 480, 0, 32},
};
const std::uint32_t Rates[] = {60, 75, 85, 0, 56, 0xFFFFFFFFu};

bool SameMode(const DisplayMode& a, const DisplayMode& b)
{
    return a.width == b.width && a.height == b.height && a.bitsPerPixel == b.bitsPerPixel;
}

bool Identical(const DisplayMode& a, const DisplayMode& b)
{
    return SameMode(a, b) && a.frequency == b.frequency;
}

// Written from the description of the pass, not from the product's code.
bool Below(const DisplayMode& a, const DisplayMode& b)
{
    return SameMode(a, b) && a.frequency < b.frequency;
}

std::vector<DisplayMode> ReferencePass(std::vector<DisplayMode> list)
{
    for (std::size_t k = 1; k < list.size(); ++k) {
        const DisplayMode v = list[k];
        std::size_t target = k;
        if (Below(v, list[0])) {
            target = 0;
        } else {
            while (Below(v, list[target - 1])) {
                --target;
            }
        }
        if (target < k) {
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(k));
            list.insert(list.begin() + static_cast<std::ptrdiff_t>(target), v);
        }
    }
    return list;
}

std::vector<DisplayMode> Canonical(std::vector<DisplayMode> list)
{
    std::sort(list.begin(), list.end(), [](const DisplayMode& a, const DisplayMode& b) {
        return std::tie(a.width, a.height, a.bitsPerPixel, a.frequency) <
               std::tie(b.width, b.height, b.bitsPerPixel, b.frequency);
    });
    return list;
}

std::size_t Pick(std::mt19937& rng, std::size_t count)
{
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(rng);
}

std::vector<DisplayMode> RandomList(std::mt19937& rng, std::size_t maxLength)
{
    const std::size_t length = std::uniform_int_distribution<std::size_t>(0, maxLength)(rng);
    const std::size_t keys = 1 + Pick(rng, sizeof Keys / sizeof Keys[0]);
    const std::size_t rates = 1 + Pick(rng, sizeof Rates / sizeof Rates[0]);
    std::vector<DisplayMode> list;
    for (std::size_t i = 0; i < length; ++i) {
        DisplayMode mode = Keys[Pick(rng, keys)];
        mode.frequency = Rates[Pick(rng, rates)];
        list.push_back(mode);
    }
    return list;
}

// Runs body and aborts the process, naming the case, if it has not returned in
// time: a pass that never ends must fail the run, not hang it.
template <typename Body>
void WithDeadline(std::chrono::seconds limit, const std::atomic<int>& currentCase, Body body)
{
    std::mutex lock;
    std::condition_variable finishedSignal;
    bool finished = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> guard(lock);
        if (!finishedSignal.wait_for(guard, limit, [&] { return finished; })) {
            (void)std::fprintf(stderr, "SortModeList did not end on case %d\n", currentCase.load());
            std::abort();
        }
    });
    body();
    {
        std::lock_guard<std::mutex> guard(lock);
        finished = true;
    }
    finishedSignal.notify_one();
    watchdog.join();
}

} // namespace

TEST_F(ModeListProperty, SortEndsAndKeepsEveryEntryOnceUnaltered)
{
    std::mt19937 rng = Generator(0);
    std::atomic<int> currentCase(-1);
    int rearranged = 0;
    WithDeadline(std::chrono::seconds(60), currentCase, [&] {
        for (int i = 0; i < 400; ++i) {
            currentCase = i;
            const std::vector<DisplayMode> before = RandomList(rng, 400);
            ModeList = before;
            SortModeList();
            ASSERT_EQ(before.size(), ModeList.size()) << "case " << i;
            const std::vector<DisplayMode> expected = Canonical(before);
            const std::vector<DisplayMode> got = Canonical(ModeList);
            bool same = true;
            for (std::size_t e = 0; e < expected.size(); ++e) {
                same = same && Identical(expected[e], got[e]);
            }
            ASSERT_TRUE(same) << "case " << i << ": entries lost, doubled or altered\nbefore " << Describe(before)
                              << "\nafter  " << Describe(ModeList);
            rearranged += Describe(before) != Describe(ModeList) ? 1 : 0;
        }
    });
    EXPECT_GT(rearranged, 200) << "the random lists must make the pass move entries";
}

TEST_F(ModeListProperty, SortLeavesListsWithoutRelatedEntriesUnchanged)
{
    std::mt19937 rng = Generator(1);
    for (int i = 0; i < 300; ++i) {
        // One rate per mode: repeats and equal rates, but no entry below another.
        std::uint32_t rateOf[sizeof Keys / sizeof Keys[0]];
        for (std::uint32_t& rate : rateOf) {
            rate = Rates[Pick(rng, sizeof Rates / sizeof Rates[0])];
        }
        const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 400)(rng);
        std::vector<DisplayMode> before;
        for (std::size_t e = 0; e < length; ++e) {
            const std::size_t key = Pick(rng, sizeof Keys / sizeof Keys[0]);
            DisplayMode mode = Keys[key];
            mode.frequency = rateOf[key];
            before.push_back(mode);
        }
        ModeList = before;
        SortModeList();
        ASSERT_EQ(Describe(before), Describe(ModeList)) << "case " << i;
    }
}

TEST_F(ModeListProperty, SortOfShortListsIsExactlyTheInsertionPass)
{
    std::mt19937 rng = Generator(2);
    int moved = 0;
    for (int i = 0; i < 3000; ++i) {
        const std::vector<DisplayMode> before = RandomList(rng, 32);
        const std::vector<DisplayMode> expected = ReferencePass(before);
        ModeList = before;
        SortModeList();
        ASSERT_EQ(Describe(expected), Describe(ModeList)) << "case " << i << ": before " << Describe(before);
        moved += Describe(expected) != Describe(before) ? 1 : 0;
    }
    EXPECT_GT(moved, 1000) << "the random lists must make the pass move entries";
}

TEST_F(ModeListProperty, FoldingKeepsEachModeInNonIncreasingRateOrder)
{
    std::mt19937 rng = Generator(3);
    for (int i = 0; i < 500 && !HasFailure(); ++i) {
        const std::vector<DisplayMode> added = RandomList(rng, 300);
        ModeList.clear();
        for (const DisplayMode& mode : added) {
            AddOrReplaceMode(mode);
        }
        SCOPED_TRACE("case " + std::to_string(i));
        for (std::size_t a = 0; a < ModeList.size(); ++a) {
            for (std::size_t b = a + 1; b < ModeList.size(); ++b) {
                EXPECT_FALSE(Below(ModeList[a], ModeList[b]))
                    << "entry " << a << " " << Describe(ModeList[a]) << " stands before the higher-rate entry " << b
                    << " " << Describe(ModeList[b]);
            }
        }
        // Each mode keeps its highest added rate, and every entry carries an
        // added rate of its own mode.
        for (const DisplayMode& key : Keys) {
            bool seenAdded = false;
            std::uint32_t highestAdded = 0;
            for (const DisplayMode& mode : added) {
                if (SameMode(mode, key)) {
                    highestAdded = seenAdded ? std::max(highestAdded, mode.frequency) : mode.frequency;
                    seenAdded = true;
                }
            }
            bool seenListed = false;
            std::uint32_t highestListed = 0;
            for (const DisplayMode& entry : ModeList) {
                if (SameMode(entry, key)) {
                    highestListed = seenListed ? std::max(highestListed, entry.frequency) : entry.frequency;
                    seenListed = true;
                    const bool wasAdded = std::any_of(added.begin(), added.end(), [&](const DisplayMode& mode) {
                        return Identical(mode, entry);
                    });
                    EXPECT_TRUE(wasAdded) << Describe(entry) << " was never added";
                }
            }
            EXPECT_EQ(seenAdded, seenListed) << Describe(key);
            EXPECT_EQ(highestAdded, highestListed) << Describe(key);
        }
    }
}

TEST_F(ModeListProperty, RebuildKeepsOnlyEnumeratedModesThatPassTheFilters)
{
    struct Resolution {
        DWORD width;
        DWORD height;
    };
    const Resolution resolutions[] = {{320, 200},  {320, 240},   {512, 384},   {636, 477},  {640, 480},
                                      {720, 480},  {800, 600},   {1024, 768},  {1280, 720}, {1280, 1024},
                                      {1600, 1200}, {1920, 1080}};
    const DWORD depths[] = {8, 16, 32, 24};
    const DWORD rates[] = {0, 1, 56, 60, 72, 75, 85, 100, 0xFFFFFFFFu};
    std::mt19937 rng = Generator(4);
    int filled = 0;
    for (int i = 0; i < 300 && !HasFailure(); ++i) {
        const std::size_t count = std::uniform_int_distribution<std::size_t>(0, 300)(rng);
        std::vector<stub::Mode> modes;
        for (std::size_t e = 0; e < count; ++e) {
            const Resolution& r = resolutions[Pick(rng, sizeof resolutions / sizeof resolutions[0])];
            const DWORD rate = rates[Pick(rng, sizeof rates / sizeof rates[0])];
            modes.push_back({r.width, r.height, depths[Pick(rng, 3)], rate});
        }
        const DWORD depth = depths[Pick(rng, 4)];
        const std::uint32_t minWidth = Pick(rng, 2) == 0 ? 640 : 0;
        const bool showNonStdRatio = Pick(rng, 2) == 0;
        SCOPED_TRACE("case " + std::to_string(i) + ": depth " + std::to_string(depth) + ", minWidth " +
                     std::to_string(minWidth) + (showNonStdRatio ? ", non-4:3 shown" : ""));
        stub::Reset();
        stub::SeedModes(modes);
        stub::SeedCurrentMode({800, 600, depth, 60});
        Settings.minWidth = minWidth;
        Settings.showNonStdRatio = showNonStdRatio;
        RebuildModeList();

        // The current mode, then every index and the first that fails.
        EXPECT_EQ(static_cast<int>(count) + 2, stub::CountCalls("EnumDisplaySettingsA"));
        std::vector<DisplayMode> accepted;
        for (const stub::Mode& m : modes) {
            if (m.bitsPerPel == depth && m.width >= minWidth && (showNonStdRatio || m.width * 3 == m.height * 4)) {
                accepted.push_back(DisplayMode{m.width, m.height, m.frequency, m.bitsPerPel});
            }
        }
        EXPECT_LE(ModeList.size(), accepted.size());
        for (std::size_t e = 0; e < ModeList.size(); ++e) {
            const DisplayMode& entry = ModeList[e];
            EXPECT_EQ(depth, entry.bitsPerPixel) << "entry " << e << " " << Describe(entry);
            EXPECT_GE(entry.width, minWidth) << "entry " << e << " " << Describe(entry);
            EXPECT_TRUE(showNonStdRatio || entry.width * 3 == entry.height * 4)
                << "entry " << e << " " << Describe(entry);
            const bool enumerated = std::any_of(modes.begin(), modes.end(), [&](const stub::Mode& m) {
                return m.width == entry.width && m.height == entry.height && m.bitsPerPel == entry.bitsPerPixel &&
                       m.frequency == entry.frequency;
            });
            EXPECT_TRUE(enumerated) << "entry " << e << " " << Describe(entry) << " was never enumerated";
            EXPECT_EQ(1, std::count_if(ModeList.begin(), ModeList.end(), [&](const DisplayMode& other) {
                          return SameMode(other, entry) && other.frequency == entry.frequency;
                      })) << "entry " << e << " " << Describe(entry) << " is listed more than once";
        }
        // Nothing accepted is lost: every accepted mode is listed at its top rate.
        for (const DisplayMode& mode : accepted) {
            std::uint32_t highestAccepted = 0;
            for (const DisplayMode& other : accepted) {
                highestAccepted = SameMode(other, mode) ? std::max(highestAccepted, other.frequency) : highestAccepted;
            }
            const bool listed = std::any_of(ModeList.begin(), ModeList.end(), [&](const DisplayMode& entry) {
                return SameMode(entry, mode) && entry.frequency == highestAccepted;
            });
            EXPECT_TRUE(listed) << Describe(mode) << " is missing at " << highestAccepted << " Hz";
        }
        filled += ModeList.empty() ? 0 : 1;

        // The same display as a driver lists it once per scaling variant,
        // with interlaced modes between: repeats anywhere after a mode's
        // first occurrence and interlaced entries change nothing.
        std::vector<stub::Mode> repeated;
        for (const stub::Mode& m : modes) {
            repeated.push_back(m);
            while (Pick(rng, 3) == 0) {
                stub::Mode again = repeated[Pick(rng, repeated.size())];
                if (Pick(rng, 4) == 0) {
                    again = {again.width, again.height, again.bitsPerPel, rates[Pick(rng, 9)], DM_INTERLACED};
                }
                repeated.push_back(again);
            }
        }
        const std::string once = Describe(ModeList);
        stub::SeedModes(repeated);
        RebuildModeList();
        EXPECT_EQ(once, Describe(ModeList)) << "with repeats and interlaced entries";
    }
    EXPECT_GT(filled, 100) << "most random displays must leave entries to check";
}
