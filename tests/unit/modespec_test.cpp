#include "app/app.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

const std::uint32_t Any = 0xdeadbeef;

struct SpecCase {
    const char* text;
    int expected;
    // Checked only for MODE_OK and MODE_OUT_OF_RANGE, where all four are set.
    std::uint32_t width, height, bitsPerPixel, frequency;
};

const SpecCase SpecCases[] = {
    {"800x600", MODE_OK, 800, 600, 0, 0},
    {"800x600x16", MODE_OK, 800, 600, 16, 0},
    {"800x600@75", MODE_OK, 800, 600, 0, 75},
    {"800x600x16@75", MODE_OK, 800, 600, 16, 75},
    {"800x600x16@75Hz", MODE_OK, 800, 600, 16, 75},
    {"800x600@75Hz", MODE_INVALID, Any, Any, Any, Any},
    {"800x600x16Hz", MODE_INVALID, Any, Any, Any, Any},
    {"800x600x16@", MODE_INVALID, Any, Any, Any, Any},
    {"800x600x", MODE_INVALID, Any, Any, Any, Any},
    {"800x600Hz", MODE_INVALID, Any, Any, Any, Any},
    {"1024x768@85x32", MODE_INVALID, Any, Any, Any, Any},
    {"800X600", MODE_INVALID, Any, Any, Any, Any},
    {"800", MODE_INVALID, Any, Any, Any, Any},
    {"abc", MODE_INVALID, Any, Any, Any, Any},
    {"", MODE_INVALID, Any, Any, Any, Any},
    {"+800x+600", MODE_OK, 800, 600, 0, 0},
    {"800x600 x16", MODE_INVALID, Any, Any, Any, Any},
    {"800x600x 16", MODE_OK, 800, 600, 16, 0},
    {"800x 600", MODE_OK, 800, 600, 0, 0},
    {"800 x600", MODE_INVALID, Any, Any, Any, Any},
    {"0x0", MODE_OUT_OF_RANGE, 0, 0, 0, 0},
    {"320x200", MODE_OK, 320, 200, 0, 0},
    {"2048x2048x32@200", MODE_OK, 2048, 2048, 32, 200},
    {"319x200", MODE_OUT_OF_RANGE, 319, 200, 0, 0},
    {"320x199", MODE_OUT_OF_RANGE, 320, 199, 0, 0},
    {"2049x768", MODE_OUT_OF_RANGE, 2049, 768, 0, 0},
    {"1024x2049", MODE_OUT_OF_RANGE, 1024, 2049, 0, 0},
    {"640x480x12", MODE_OUT_OF_RANGE, 640, 480, 12, 0},
    {"640x480x1", MODE_OK, 640, 480, 1, 0},
    {"640x480@201", MODE_OUT_OF_RANGE, 640, 480, 0, 201},
    {"640x480x0@0", MODE_OK, 640, 480, 0, 0},
    {"-640x480", MODE_OUT_OF_RANGE, 0xFFFFFD80u, 480, 0, 0},
    {"640x480@-60", MODE_OUT_OF_RANGE, 640, 480, 0, 0xFFFFFFC4u},
    // The scan's own rules: white space before numbers, leading zeros, no hex.
    {" \t800x600", MODE_OK, 800, 600, 0, 0},
    {"   ", MODE_INVALID, Any, Any, Any, Any},
    {"0800x0600x016@075", MODE_OK, 800, 600, 16, 75},
    {"0x10", MODE_OUT_OF_RANGE, 0, 10, 0, 0},
    {"800x600\t16", MODE_INVALID, Any, Any, Any, Any},
    {"800x600x\t16", MODE_OK, 800, 600, 16, 0},
    {"800x600@\n75", MODE_OK, 800, 600, 0, 75},
    {"800x\v600", MODE_OK, 800, 600, 0, 0},
    {"\f800x600", MODE_OK, 800, 600, 0, 0},
    {"800x600x\r16", MODE_OK, 800, 600, 16, 0},
    {"800x600x-16", MODE_OUT_OF_RANGE, 800, 600, 0xFFFFFFF0u, 0},
    {"800x600x+16@+75", MODE_OK, 800, 600, 16, 75},
    {"800x600x16x75", MODE_INVALID, Any, Any, Any, Any},
    {"800x600@16@75", MODE_INVALID, Any, Any, Any, Any},
    {"800x-", MODE_INVALID, Any, Any, Any, Any},
    {"x600", MODE_INVALID, Any, Any, Any, Any},
    {"1024x768x32@60 trailing", MODE_OK, 1024, 768, 32, 60},
    {"1024x768x32@60@70", MODE_OK, 1024, 768, 32, 60},
    // Numbers beyond 32 bits make the specification out of range, never wrap.
    {"2147483647x600", MODE_OUT_OF_RANGE, 2147483647u, 600, 0, 0},
    {"-2147483648x600", MODE_OUT_OF_RANGE, 0x80000000u, 600, 0, 0},
    {"4294968096x600", MODE_OUT_OF_RANGE, Any, 600, 0, 0},
    {"800x4294967896", MODE_OUT_OF_RANGE, 800, Any, 0, 0},
    {"800x600x4294967328", MODE_OUT_OF_RANGE, 800, 600, Any, 0},
    {"800x600@4294967371", MODE_OUT_OF_RANGE, 800, 600, 0, Any},
    {"800x600x32@-4294967221", MODE_OUT_OF_RANGE, 800, 600, 32, Any},
    {"99999999999999999999999999999999x600", MODE_OUT_OF_RANGE, Any, 600, 0, 0},
    {"00000000000000000000000000000800x600", MODE_OK, 800, 600, 0, 0},
    // An overflowing number in a text of no valid form stays invalid.
    {"800x600x99999999999Hz", MODE_INVALID, Any, Any, Any, Any},
};

void ExpectField(const char* name, std::uint32_t expected, std::uint32_t got)
{
    if (expected != Any) {
        EXPECT_EQ(expected, got) << name;
    }
}

} // namespace

TEST(ParseSpec, TextsAndResults)
{
    for (std::size_t i = 0; i < sizeof SpecCases / sizeof SpecCases[0]; ++i) {
        const SpecCase& c = SpecCases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": \"" + c.text + "\"");
        DisplayMode mode = {Any, Any, Any, Any};
        const int result = ParseSpec(mode, c.text);
        EXPECT_EQ(c.expected, result);
        if (c.expected != MODE_INVALID) {
            ExpectField("width", c.width, mode.width);
            ExpectField("height", c.height, mode.height);
            ExpectField("bitsPerPixel", c.bitsPerPixel, mode.bitsPerPixel);
            ExpectField("frequency", c.frequency, mode.frequency);
        }
    }
}

TEST(Validate, LimitsAreInclusiveAndUnsigned)
{
    struct {
        DisplayMode mode;
        int expected;
    } const cases[] = {
        {{320, 200, 0, 0}, MODE_OK},
        {{2048, 2048, 200, 32}, MODE_OK},
        {{319, 200, 0, 0}, MODE_OUT_OF_RANGE},
        {{2049, 200, 0, 0}, MODE_OUT_OF_RANGE},
        {{320, 199, 0, 0}, MODE_OUT_OF_RANGE},
        {{320, 2049, 0, 0}, MODE_OUT_OF_RANGE},
        {{640, 480, 201, 0}, MODE_OUT_OF_RANGE},
        {{640, 480, 0xFFFFFFFFu, 0}, MODE_OUT_OF_RANGE},
        {{0x80000140u, 480, 0, 0}, MODE_OUT_OF_RANGE},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        EXPECT_EQ(cases[i].expected, Validate(cases[i].mode)) << "case " << i;
    }
    const std::uint32_t depths[] = {0, 1, 2, 4, 8, 15, 16, 24, 32};
    for (std::uint32_t bpp = 0; bpp <= 64; ++bpp) {
        bool listed = false;
        for (std::uint32_t depth : depths) {
            listed = listed || depth == bpp;
        }
        const DisplayMode mode = {640, 480, 60, bpp};
        EXPECT_EQ(listed ? MODE_OK : MODE_OUT_OF_RANGE, Validate(mode)) << "bitsPerPixel " << bpp;
    }
}
