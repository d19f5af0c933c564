// Random display enumerations and filter settings through the mode-list rebuild.
//
// Input: one header byte (bits 0-1 minWidth, bit 2 showNonStdRatio, bits 3-4
// the current depth, bits 5-7 the current width/height/rate, which must not
// matter), then two bytes per enumerated mode: a = width (bits 0-2), other
// height (bits 3-5), depth (bits 6-7); b = rate (bits 0-2), bit 7 set for the
// other height instead of the width's 4:3 partner. The values come from small
// pools, so that equal modes and 4:3 pairs are common.
#include "display/display.h"
#include "display/modelist.h"
#include "settings/settings.h"
#include "stub.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Index i of Widths and Heights makes a 4:3 pair in unsigned 32-bit arithmetic;
// the last three only through wrap-around (3w and 4h differ by a multiple of
// 2^32). OtherHeights makes mostly other ratios.
const std::uint32_t Widths[8] = {640, 800, 1024, 320, 1280, 0, 4, 0xaaaaaaac};
const std::uint32_t Heights[8] = {480, 600, 768, 240, 960, 0x40000000, 0x40000003, 1};
const std::uint32_t OtherHeights[8] = {1024, 720, 480, 200, 768, 0, 0xffffffff, 600};
const std::uint32_t Depths[4] = {32, 16, 8, 24};
const std::uint32_t Rates[8] = {60, 75, 85, 0, 70, 100, 0xffffffff, 59};
const std::uint32_t MinWidths[4] = {640, 0, 1024, 0x80000000};
const std::size_t MaxModes = 300;

struct Case {
    SettingsRecord settings;
    stub::Mode current;
    std::vector<stub::Mode> modes;
};

Case Decode(const std::uint8_t* data, std::size_t size)
{
    Case c = {{640, false, false}, {1024, 768, 32, 60}, {}};
    if (size == 0) {
        return c;
    }
    const std::uint8_t header = data[0];
    c.settings.minWidth = MinWidths[header & 3];
    c.settings.showNonStdRatio = (header & 4) != 0;
    c.current = {Widths[header >> 5], Heights[(header >> 5) ^ 1], Depths[(header >> 3) & 3], Rates[header >> 5]};
    for (std::size_t i = 1; i + 1 < size && c.modes.size() < MaxModes; i += 2) {
        const std::uint8_t a = data[i];
        const std::uint8_t b = data[i + 1];
        const std::uint32_t height = (b & 0x80) != 0 ? OtherHeights[(a >> 3) & 7] : Heights[a & 7];
        c.modes.push_back({Widths[a & 7], height, Depths[a >> 6], Rates[b & 7]});
    }
    return c;
}

std::string ModeText(const DisplayMode& mode)
{
    char text[64];
    (void)std::snprintf(text, sizeof text, "%ux%ux%u@%u", mode.width, mode.height, mode.bitsPerPixel, mode.frequency);
    return text;
}

std::string ListText(const std::vector<DisplayMode>& list)
{
    std::string text = "[";
    for (const DisplayMode& mode : list) {
        text += (text.size() > 1 ? " " : "") + ModeText(mode);
    }
    return text + "]";
}

[[noreturn]] void Fail(const Case& c, const std::string& what)
{
    (void)std::fprintf(stderr, "modelist_fuzz: %s\n  minWidth %u, showNonStdRatio %d, depth %u\n  enumerated:",
                       what.c_str(), c.settings.minWidth, c.settings.showNonStdRatio ? 1 : 0, c.current.bitsPerPel);
    for (const stub::Mode& mode : c.modes) {
        (void)std::fprintf(stderr, " %ux%ux%u@%u", mode.width, mode.height, mode.bitsPerPel, mode.frequency);
    }
    (void)std::fprintf(stderr, "\n");
    std::abort();
}

bool SameMode(const DisplayMode& a, const DisplayMode& b)
{
    return a.width == b.width && a.height == b.height && a.bitsPerPixel == b.bitsPerPixel &&
           a.frequency == b.frequency;
}

bool Before(const DisplayMode& a, const DisplayMode& b)
{
    return std::tie(a.width, a.height, a.bitsPerPixel, a.frequency) <
           std::tie(b.width, b.height, b.bitsPerPixel, b.frequency);
}

bool Accepted(const Case& c, const stub::Mode& mode)
{
    const bool ratio = static_cast<std::uint32_t>(mode.width * 3u) == static_cast<std::uint32_t>(mode.height * 4u);
    return mode.bitsPerPel == c.current.bitsPerPel && mode.width >= c.settings.minWidth &&
           (ratio || c.settings.showNonStdRatio);
}

// The folding, seen per resolution and depth: the entries of one such group
// stay in non-increasing order of rate, and an arriving rate raises the first
// entry below it, which is where it would go in that order. Groups never touch
// each other, so the global order is kept only to spot a list without related
// entries.
std::vector<DisplayMode> FoldModel(const Case& c)
{
    // Per resolution and depth: indices into folded, rates non-increasing.
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, std::vector<std::size_t>> groups;
    std::vector<DisplayMode> folded;
    std::set<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t>> seen;
    for (const stub::Mode& mode : c.modes) {
        if (!Accepted(c, mode)) {
            continue;
        }
        const DisplayMode entry = {mode.width, mode.height, mode.frequency, mode.bitsPerPel};
        std::vector<std::size_t>& group = groups[std::make_tuple(entry.width, entry.height, entry.bitsPerPixel)];
        // Only a mode's first listing counts, whatever the list holds by then.
        if (!seen.insert(std::make_tuple(entry.width, entry.height, entry.bitsPerPixel, entry.frequency)).second) {
            continue;
        }
        const auto below = std::partition_point(group.begin(), group.end(),
                                                [&](std::size_t i) { return folded[i].frequency >= entry.frequency; });
        if (below != group.end()) {
            folded[*below].frequency = entry.frequency;
        } else {
            group.push_back(folded.size());
            folded.push_back(entry);
        }
        for (std::size_t k = 1; k < group.size(); ++k) {
            if (folded[group[k - 1]].frequency < folded[group[k]].frequency) {
                Fail(c, "fuzzer's fold model lost its order");
            }
        }
    }
    return folded;
}

// a is a lower-rate variant of b.
bool Lower(const DisplayMode& a, const DisplayMode& b)
{
    return a.width == b.width && a.height == b.height && a.bitsPerPixel == b.bitsPerPixel && a.frequency < b.frequency;
}

bool AnyRelated(const std::vector<DisplayMode>& list)
{
    for (const DisplayMode& a : list) {
        for (const DisplayMode& b : list) {
            if (Lower(a, b)) {
                return true;
            }
        }
    }
    return false;
}

bool SameEntries(std::vector<DisplayMode> a, std::vector<DisplayMode> b)
{
    std::sort(a.begin(), a.end(), Before);
    std::sort(b.begin(), b.end(), Before);
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), SameMode);
}

// What a sort under LowerRefresh must do for any list it is given: keep every
// entry once, leave a list without related entries alone, and (up to 32
// entries, where it is one insertion pass) never leave an entry directly after
// one of which it is a lower-rate variant.
void CheckSorted(const Case& c, const std::string& what, const std::vector<DisplayMode>& before,
                 const std::vector<DisplayMode>& after)
{
    if (!SameEntries(before, after)) {
        Fail(c, what + " lost or changed entries: before " + ListText(before) + ", after " + ListText(after));
    }
    if (!AnyRelated(before) && !std::equal(before.begin(), before.end(), after.begin(), after.end(), SameMode)) {
        Fail(c, what + " rearranged a list without related entries: expected " + ListText(before) + ", got " +
                    ListText(after));
    }
    if (after.size() > 32) {
        return;
    }
    for (std::size_t i = 1; i < after.size(); ++i) {
        if (Lower(after[i], after[i - 1])) {
            Fail(c, what + " left entry " + std::to_string(i) + " after a higher rate of its mode: before " +
                        ListText(before) + ", after " + ListText(after));
        }
    }
}

void Seed(const Case& c, const stub::Mode& current)
{
    stub::Reset();
    stub::SeedModes(c.modes);
    stub::SeedCurrentMode(current);
    Settings = c.settings;
}

void CheckEntries(const Case& c, const std::vector<DisplayMode>& list)
{
    for (std::size_t i = 0; i < list.size(); ++i) {
        const DisplayMode& entry = list[i];
        const std::string where = "entry " + std::to_string(i) + " " + ModeText(entry);
        if (entry.bitsPerPixel != c.current.bitsPerPel) {
            Fail(c, where + ": depth is not the current one");
        }
        if (entry.width < c.settings.minWidth) {
            Fail(c, where + ": narrower than minWidth");
        }
        if (!c.settings.showNonStdRatio && entry.width * 3u != entry.height * 4u) {
            Fail(c, where + ": not 4:3");
        }
        const bool enumerated = std::any_of(c.modes.begin(), c.modes.end(), [&](const stub::Mode& mode) {
            return mode.width == entry.width && mode.height == entry.height && mode.bitsPerPel == entry.bitsPerPixel &&
                   mode.frequency == entry.frequency;
        });
        if (!enumerated) {
            Fail(c, where + ": no enumerated variant of this mode has that rate");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Case c = Decode(data, size);

    Seed(c, c.current);
    RebuildModeList();
    const std::vector<DisplayMode> first = ModeList;

    CheckEntries(c, first);

    CheckSorted(c, "rebuild", FoldModel(c), first);

    // The sort alone, over the raw enumeration: shapes that folding never
    // produces, such as ascending runs and interleaved modes of any depth.
    std::vector<DisplayMode> raw;
    for (const stub::Mode& mode : c.modes) {
        raw.push_back(DisplayMode{mode.width, mode.height, mode.frequency, mode.bitsPerPel});
    }
    ModeList = raw;
    SortModeList();
    CheckSorted(c, "SortModeList", raw, ModeList);

    // Same enumeration and settings, but a stale list, another current
    // resolution and rate at the same depth, and another autostart choice.
    ModeList.assign(3, DisplayMode{1, 2, 3, c.current.bitsPerPel});
    const stub::Mode other = {c.current.width + 1, c.current.height ^ 1, c.current.bitsPerPel,
                              c.current.frequency + 1};
    Seed(c, other);
    Settings.autostart = !Settings.autostart;
    RebuildModeList();
    if (!std::equal(first.begin(), first.end(), ModeList.begin(), ModeList.end(), SameMode)) {
        Fail(c, "second rebuild: expected " + ListText(first) + ", got " + ListText(ModeList));
    }
    return 0;
}
