// Random command-line texts through the splitter, the command-line handling and
// the mode parser. The input is the text up to its first NUL byte. Limits are
// hit by exact numbers, which coverage does not lead to, so two more texts are
// checked per input: the same text with each byte from 0x80 up replaced by a
// number from a list of boundary values, and a text in the shape of a mode
// specification built from the first eight bytes.
#include "app/app.h"
#include "display/display.h"
#include "stub.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::size_t MessageLimit = 299;

const char UsageText[] =
    "quorin -safe\n"
    "      sets the display mode to 640x480x(32 bits/pixel) at 60 Hz\n"
    "quorin <width>x<height>[x<bpp>][@<freq>]\n"
    "      sets a custom display mode\n";

const std::string BoundaryNumbers[32] = {
    "0", "1", "2", "4", "8", "12", "15", "16", "24", "32", "60", "199", "200", "201", "319", "320",
    "640", "480", "2048", "2049", "2147483647", "2147483648", "-2147483648", "-2147483649",
    "4294967296", "-1", "+200", "000000000000000000000320", "99999999999999999999999",
    // 2^32 + 200 and -(2^32 - 200): 200 once cut to 32 bits.
    "4294967496", "-4294967096",
    // Long enough that a message quoting it must be bounded.
    std::string(282, '1')};

std::string ExpandNumbers(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x80) {
            out += BoundaryNumbers[u & 31];
        } else {
            out += c;
        }
    }
    return out;
}

// Numbers from bytes 0-3, the literal after the width, the two separators,
// how many numbers, a leading and a trailing part, and enclosing quotes from
// bytes 4-7.
std::string SpecShaped(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t b[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(b, data, size < sizeof b ? size : sizeof b);
    static const char* const leads[4] = {"", " ", "\t", "\n\v"};
    static const char* const literals[4] = {"x", "x", "X", " x"};
    static const char firsts[8] = {'x', 'x', '@', '@', ' ', '\t', 'X', '#'};
    static const char seconds[4] = {'@', '@', 'x', ' '};
    static const char* const tails[8] = {"", "", "Hz", " ", "x", "@", "x32", "\""};
    std::string text = leads[b[4] & 3];
    text += BoundaryNumbers[b[0] & 31];
    text += literals[(b[4] >> 2) & 3];
    text += BoundaryNumbers[b[1] & 31];
    const int more = b[5] % 3;
    if (more >= 1) {
        text += firsts[(b[4] >> 4) & 7];
        text += BoundaryNumbers[b[2] & 31];
    }
    if (more >= 2) {
        text += seconds[b[6] & 3];
        text += BoundaryNumbers[b[3] & 31];
    }
    text += tails[(b[6] >> 2) & 7];
    return (b[7] & 1) != 0 ? "\"" + text + "\"" : text;
}

std::string Printable(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 32 && u < 127 && c != '\\') {
            out += c;
        } else {
            char escaped[8];
            (void)std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
            out += escaped;
        }
    }
    return out;
}

[[noreturn]] void Fail(const std::string& input, const std::string& what)
{
    (void)std::fprintf(stderr, "cmdline_fuzz: %s\n  text checked: \"%s\"\n", what.c_str(), Printable(input).c_str());
    std::abort();
}

std::string ModeText(const DisplayMode& mode)
{
    return std::to_string(mode.width) + "," + std::to_string(mode.height) + "," +
           std::to_string(mode.bitsPerPixel) + "," + std::to_string(mode.frequency) + " (w,h,bpp,freq)";
}

bool SameMode(const DisplayMode& a, const DisplayMode& b)
{
    return a.width == b.width && a.height == b.height && a.bitsPerPixel == b.bitsPerPixel &&
           a.frequency == b.frequency;
}

// The tokens as the blank-separation rule defines them: a blank separates when
// an even number of double quotes precedes it in the whole text, since a token
// can only end at a blank while its own quote count is even. Each token then
// loses one leading and one trailing double quote.
std::vector<std::string> ModelTokens(const std::string& text)
{
    std::vector<std::string> tokens;
    bool insideQuotes = false;
    std::string run;
    bool inRun = false;
    auto close = [&]() {
        if (!inRun) {
            return;
        }
        std::size_t begin = run[0] == '"' ? 1 : 0;
        std::size_t end = run.size();
        if (run[run.size() - 1] == '"') {
            --end;
        }
        tokens.push_back(end > begin ? run.substr(begin, end - begin) : std::string());
        run.clear();
        inRun = false;
    };
    for (const char c : text) {
        if (c == ' ' && !insideQuotes) {
            close();
            continue;
        }
        if (c == '"') {
            insideQuotes = !insideQuotes;
        }
        run += c;
        inRun = true;
    }
    close();
    return tokens;
}

void CheckSplit(const std::string& text, const std::vector<std::string>& expected)
{
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    char* const first = buffer.data();
    char* const last = first + buffer.size();
    int count = -1;
    const std::vector<char*> list = SplitArguments(first, count);

    const int tokens = static_cast<int>(expected.size());
    if (count != tokens + 1) {
        Fail(text, "SplitArguments count: expected " + std::to_string(tokens + 1) + ", got " +
                       std::to_string(count));
    }
    if (list.size() != static_cast<std::size_t>(count) + 1 || list[0] == nullptr || list[0][0] != '\0' ||
        list[static_cast<std::size_t>(count)] != nullptr) {
        Fail(text, "SplitArguments list shape: expected placeholder, " + std::to_string(tokens) +
                       " tokens and a null entry, got " + std::to_string(list.size()) + " entries");
    }
    const char* previousEnd = first;
    for (int i = 1; i <= tokens; ++i) {
        const char* token = list[static_cast<std::size_t>(i)];
        if (token == nullptr || token < previousEnd || token >= last) {
            Fail(text, "token " + std::to_string(i) + " does not lie in order inside the copy");
        }
        const std::string got(token);
        if (got != expected[static_cast<std::size_t>(i - 1)]) {
            Fail(text, "token " + std::to_string(i) + ": expected \"" +
                           Printable(expected[static_cast<std::size_t>(i - 1)]) + "\", got \"" +
                           Printable(got) + "\"");
        }
        // The stretch began at the token, or one earlier at a stripped quote.
        const std::size_t offset = static_cast<std::size_t>(token - first);
        bool quoted = offset > 0 && text[offset - 1] == '"';
        for (const char c : got) {
            if (c == '"') {
                quoted = !quoted;
            } else if (c == ' ' && !quoted) {
                Fail(text, "token " + std::to_string(i) + " holds a blank outside double quotes");
            }
        }
        previousEnd = token + got.size() + 1;
    }
}

// What the scan "%dx%d%c%d%c%d" reaches, read with strtoll so that numbers
// beyond 32 bits are seen as such.
struct Scan {
    int stored = 0;
    bool fits = true;
    long long numbers[4] = {0, 0, 0, 0};
    char separators[2] = {0, 0};
};

bool ReadNumber(const char*& p, long long& value, bool& fits)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(p, &end, 10);
    if (end == p) {
        return false;
    }
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        fits = false;
    }
    p = end;
    return true;
}

Scan Rescan(const char* text)
{
    Scan scan;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
    }
    if (*p == '\0') {
        scan.stored = -1;
        return scan;
    }
    if (!ReadNumber(p, scan.numbers[0], scan.fits)) {
        return scan;
    }
    scan.stored = 1;
    if (*p++ != 'x' || !ReadNumber(p, scan.numbers[1], scan.fits)) {
        return scan;
    }
    scan.stored = 2;
    for (int k = 0; k < 2; ++k) {
        if (*p == '\0') {
            return scan;
        }
        scan.separators[k] = *p++;
        ++scan.stored;
        if (!ReadNumber(p, scan.numbers[2 + k], scan.fits)) {
            return scan;
        }
        ++scan.stored;
    }
    return scan;
}

bool WithinLimits(const DisplayMode& mode)
{
    static const std::uint32_t depths[] = {0, 1, 2, 4, 8, 15, 16, 24, 32};
    bool depthAllowed = false;
    for (const std::uint32_t depth : depths) {
        depthAllowed = depthAllowed || mode.bitsPerPixel == depth;
    }
    return mode.width >= 320 && mode.width <= 2048 && mode.height >= 200 && mode.height <= 2048 &&
           depthAllowed && mode.frequency <= 200;
}

// Targets in scan order: number, number, separator, number, separator, number.
bool NumberStored(int stored, int number)
{
    static const int position[4] = {1, 2, 4, 6};
    return stored >= position[number];
}

struct Expectation {
    int code;
    bool fieldsKnown;
    DisplayMode mode;
};

// The outcome from the scan's count and separators: 2 numbers, 3 with an "x"
// or an "@" before the third, or 4 with "x" then "@" form a mode.
Expectation Decide(int stored, const char separators[2], const DisplayMode& scanned)
{
    DisplayMode mode = scanned;
    if (stored == 6 && separators[0] == 'x' && separators[1] == '@') {
        // All four as scanned.
    } else if (stored == 4 && separators[0] == 'x') {
        mode.frequency = 0;
    } else if (stored == 4 && separators[0] == '@') {
        mode.frequency = mode.bitsPerPixel;
        mode.bitsPerPixel = 0;
    } else if (stored == 2) {
        mode.bitsPerPixel = 0;
        mode.frequency = 0;
    } else {
        return Expectation{MODE_INVALID, false, mode};
    }
    return Expectation{WithinLimits(mode) ? MODE_OK : MODE_OUT_OF_RANGE, true, mode};
}

Expectation Expect(const std::string& input, const char* text)
{
    const Scan scan = Rescan(text);
    if (!scan.fits) {
        const DisplayMode none = {0, 0, 0, 0};
        Expectation form = Decide(scan.stored, scan.separators, none);
        if (form.code != MODE_INVALID) {
            form.code = MODE_OUT_OF_RANGE;
        }
        form.fieldsKnown = false;
        return form;
    }

    int numbers[4] = {0, 0, 0, 0};
    char separators[2] = {0, 0};
    // NOLINTNEXTLINE(cert-err34-c): the C library's scan is the reference here.
    const int stored = std::sscanf(text, "%dx%d%c%d%c%d", &numbers[0], &numbers[1], &separators[0],
                                   &numbers[2], &separators[1], &numbers[3]);
    // The re-scan only decides whether sscanf may be trusted; when it may, both
    // must have read the same thing.
    bool agree = scan.stored < 0 ? stored < 0 : stored == scan.stored;
    for (int k = 0; agree && k < 4; ++k) {
        agree = NumberStored(stored, k) ? numbers[k] == scan.numbers[k] : true;
    }
    for (int k = 0; agree && k < 2; ++k) {
        agree = stored >= 3 + 2 * k ? separators[k] == scan.separators[k] : true;
    }
    if (!agree) {
        Fail(input, "fuzzer's re-scan disagrees with sscanf on \"" + Printable(text) + "\": " +
                        std::to_string(scan.stored) + " vs " + std::to_string(stored) + " stored");
    }
    const DisplayMode scanned = {static_cast<std::uint32_t>(numbers[0]), static_cast<std::uint32_t>(numbers[1]),
                                 static_cast<std::uint32_t>(numbers[3]), static_cast<std::uint32_t>(numbers[2])};
    return Decide(stored, separators, scanned);
}

void CheckParse(const std::string& input, const char* text)
{
    const Expectation expected = Expect(input, text);
    DisplayMode mode = {0xdeadbeef, 0xdeadbeef, 0xdeadbeef, 0xdeadbeef};
    const int code = ParseSpec(mode, text);
    if (code != expected.code) {
        Fail(input, "ParseSpec(\"" + Printable(text) + "\"): expected " + std::to_string(expected.code) +
                        ", got " + std::to_string(code));
    }
    if (expected.fieldsKnown && !SameMode(mode, expected.mode)) {
        Fail(input, "ParseSpec(\"" + Printable(text) + "\") fields: expected " + ModeText(expected.mode) +
                        ", got " + ModeText(mode));
    }
}

bool IsSafe(const std::string& token)
{
    static const char safe[] = "-safe";
    if (token.size() != sizeof safe - 1) {
        return false;
    }
    for (std::size_t i = 0; i < token.size(); ++i) {
        const char c = token[i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
        if (lower != safe[i]) {
            return false;
        }
    }
    return true;
}

void CheckBox(const std::string& input, const std::string& text, std::size_t fixedPart,
              const std::string& caption)
{
    const std::vector<stub::MessageBox>& boxes = stub::MessageBoxes();
    if (boxes.size() != 1) {
        Fail(input, "expected one message box \"" + Printable(text) + "\", got " + std::to_string(boxes.size()));
    }
    const stub::MessageBox& box = boxes[0];
    if (box.caption != caption || box.owner != nullptr || box.type != MB_OK) {
        Fail(input, "message box caption/owner/type: expected \"" + caption + "\", got \"" +
                        Printable(box.caption) + "\"");
    }
    // How a message that does not fit is bounded is ours to choose; one that
    // fits must come whole, and a bounded one still names the problem.
    const bool whole = text.size() <= MessageLimit;
    if (whole ? box.text != text : box.text.compare(0, fixedPart, text, 0, fixedPart) != 0) {
        Fail(input, "message text: expected \"" + Printable(text) + "\", got \"" + Printable(box.text) + "\"");
    }
}

void CheckHandle(const std::string& text, const std::vector<std::string>& tokens)
{
    stub::Reset();
    DisplayMode mode = {0xdeadbeef, 0xdeadbeef, 0xdeadbeef, 0xdeadbeef};
    const int result = HandleCommandLine(text.c_str(), mode);

    for (const stub::MessageBox& box : stub::MessageBoxes()) {
        if (box.text.size() > MessageLimit) {
            Fail(text, "message box text of " + std::to_string(box.text.size()) + " characters");
        }
    }

    int expected = CMDLINE_RESIDENT;
    if (tokens.size() >= 2) {
        expected = CMDLINE_EXIT;
        const std::string tooMany = "Too many parameters";
        CheckBox(text, tooMany, tooMany.size(), "Error");
    } else if (tokens.size() == 1) {
        const std::string& token = tokens[0];
        if (token == "-?" || token == "/?") {
            expected = CMDLINE_EXIT;
            CheckBox(text, UsageText, sizeof UsageText - 1, "Usage");
        } else if (IsSafe(token)) {
            expected = CMDLINE_APPLY;
            const DisplayMode safe = {640, 480, 60, 32};
            if (result == CMDLINE_APPLY && !SameMode(mode, safe)) {
                Fail(text, "-safe mode: expected " + ModeText(safe) + ", got " + ModeText(mode));
            }
        } else {
            const Expectation parsed = Expect(text, token.c_str());
            if (parsed.code == MODE_INVALID) {
                expected = CMDLINE_EXIT;
                const std::string prefix = "Invalid parameter: ";
                CheckBox(text, prefix + token, prefix.size(), "Error");
            } else if (parsed.code == MODE_OUT_OF_RANGE) {
                expected = CMDLINE_EXIT;
                const std::string prefix = "Range error in parameter: ";
                CheckBox(text, prefix + token, prefix.size(), "Error");
            } else {
                expected = CMDLINE_APPLY;
                if (result == CMDLINE_APPLY && !SameMode(mode, parsed.mode)) {
                    Fail(text, "applied mode: expected " + ModeText(parsed.mode) + ", got " + ModeText(mode));
                }
            }
        }
    }
    if (result != expected) {
        Fail(text, "HandleCommandLine with " + std::to_string(tokens.size()) + " tokens: expected " +
                       std::to_string(expected) + ", got " + std::to_string(result));
    }
    if (expected != CMDLINE_EXIT && !stub::MessageBoxes().empty()) {
        Fail(text, "unexpected message box \"" + Printable(stub::MessageBoxes()[0].text) + "\"");
    }
}

void CheckText(const std::string& text)
{
    const std::vector<std::string> tokens = ModelTokens(text);
    CheckSplit(text, tokens);
    CheckParse(text, text.c_str());
    for (const std::string& token : tokens) {
        CheckParse(text, token.c_str());
    }
    CheckHandle(text, tokens);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    const void* nul = std::memchr(bytes, '\0', size);
    const std::string text(bytes, nul != nullptr ? static_cast<const char*>(nul) : bytes + size);

    CheckText(text);
    const std::string expanded = ExpandNumbers(text);
    if (expanded != text) {
        CheckText(expanded);
    }
    CheckText(SpecShaped(data, size));
    return 0;
}
