// Reading settings files (UTF-8 or Shift_JIS) with the private-profile calls: keys looked up in any
// file content, copied into callers' buffers of every size from 0 up, fenced with canaries.
//
// Input: names, defaults and buffer sizes of up to four look-ups, then the file's bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_support.h"
#include "platform/profile.h"
#include "profile_names.h"

using namespace platform;

namespace {

// The integer the value reads as: blanks, a sign, digits, wrapping at 32 bits; the default for a
// missing or empty value.
int32_t IntOf(const std::string& value, int32_t defaultValue) {
    if (value == fuzz::kMissing || value.empty()) return defaultValue;
    size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
    uint32_t n = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) n = n * 10u + static_cast<uint32_t>(value[i] - '0');
    return static_cast<int32_t>(negative ? 0u - n : n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string file = fuzz::ScratchFolder() + "/read.ini";
    FuzzedDataProvider in(data, size);
    struct Probe {
        std::string section, key, defaultValue;
        uint32_t size;
    };
    std::vector<Probe> probes(in.ConsumeIntegralInRange<size_t>(1, 4));
    for (Probe& p : probes) {
        p.section = fuzz::PickName(in);
        p.key = fuzz::PickName(in);
        p.defaultValue = in.ConsumeBool() ? "未設定" : in.ConsumeRandomLengthString(12);
        p.size = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 8) : in.ConsumeIntegralInRange<uint32_t>(0, 300);
    }
    const std::string content = in.ConsumeRemainingBytesAsString();
    fuzz::WriteBytes(file, content);

    for (const Probe& p : probes) {
        // The whole value first, through a buffer that cannot be too small: decoding Shift_JIS turns
        // a byte into at most three.
        std::vector<char> big(3 * content.size() + fuzz::kMissing.size() + 64);
        const uint32_t wholeLength = GetPrivateProfileStringA(p.section, p.key, fuzz::kMissing, big.data(),
                                                              static_cast<uint32_t>(big.size()), file);
        FUZZ_CHECK(wholeLength < big.size() && big[wholeLength] == '\0', "count or NUL wrong");
        const std::string value(big.data(), wholeLength);
        if (value != fuzz::kMissing) {
            FUZZ_CHECK(fuzz::WellFormedUtf8(value), "value read is not UTF-8: " + fuzz::Quoted(value));
            FUZZ_CHECK(value.find_first_of("\r\n") == std::string::npos, "value read holds a line end");
        }
        const int32_t number = GetPrivateProfileIntA(p.section, p.key, -12345, file);
        FUZZ_CHECK(number == IntOf(value, -12345),
                   "number " + std::to_string(number) + " does not match the value " + fuzz::Quoted(value));

        // Then into the probe's own buffer.
        std::string full = value;
        if (value == fuzz::kMissing) {
            full = p.defaultValue;
            while (!full.empty() && (full.back() == ' ' || full.back() == '\t')) full.pop_back();
        }
        const bool fullIsText = value != fuzz::kMissing || fuzz::WellFormedUtf8(full);
        fuzz::FencedBuffer buffer(p.size);
        const uint32_t n = GetPrivateProfileStringA(p.section, p.key, p.defaultValue, buffer.data(), p.size, file);
        FUZZ_CHECK(buffer.FencesIntact(), "written outside a buffer of " + std::to_string(p.size) + " bytes");
        if (p.size == 0) {
            FUZZ_CHECK(n == 0, "size 0 gave a count");
            continue;
        }
        FUZZ_CHECK(n < p.size && buffer.data()[n] == '\0', "count " + std::to_string(n) + " or NUL wrong for size " +
                                                               std::to_string(p.size));
        const std::string_view got(buffer.data(), n);
        FUZZ_CHECK(std::string_view(full).starts_with(got), "copy " + fuzz::Quoted(got) + " is not a prefix of " +
                                                                 fuzz::Quoted(full));
        if (fullIsText) {
            FUZZ_CHECK(fuzz::WellFormedUtf8(got), "copy splits a character: " + fuzz::Quoted(got));
            FUZZ_CHECK(n + 3 >= std::min<size_t>(full.size(), p.size - 1), "cut more than one character");
        }
    }
    return 0;
}
