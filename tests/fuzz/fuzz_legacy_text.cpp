// Text from the Windows past: the UTF-8 check against Unicode's own definition, Shift_JIS decoding
// that always gives UTF-8, leaves UTF-8 alone and decides each line by itself, and files read as
// lines that lose no text.
//
// Input: any bytes, used as a string and as a file's content.
#include "fuzz_support.h"
#include "platform/textfile.h"

using namespace platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string file = fuzz::ScratchFolder() + "/lines.txt";
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    const bool valid = IsValidUtf8(bytes);
    FUZZ_CHECK(valid == fuzz::WellFormedUtf8(bytes), std::string("IsValidUtf8 says ") + (valid ? "yes" : "no") +
                                                         " to " + fuzz::Quoted(bytes));

    const std::string text = DecodeLegacyText(bytes);
    FUZZ_CHECK(fuzz::WellFormedUtf8(text), "decoded text is not UTF-8: " + fuzz::Quoted(text));
    if (valid) FUZZ_CHECK(text == bytes, "UTF-8 was changed by decoding");
    FUZZ_CHECK(DecodeLegacyText(text) == text, "decoding twice changes the text");

    // Each line is decoded by itself: what the other lines hold does not change how it reads.
    const std::string_view bom = "\xEF\xBB\xBF";
    const bool marked = std::string_view(bytes).starts_with(bom);
    std::string lineByLine = marked ? std::string(bom) : std::string();
    for (size_t pos = marked ? bom.size() : 0; pos < bytes.size();) {
        const size_t end = std::min(bytes.find_first_of("\r\n", pos), bytes.size());
        const std::string line = bytes.substr(pos, end - pos);
        const std::string decoded = DecodeLegacyLine(line, marked);
        FUZZ_CHECK(fuzz::WellFormedUtf8(decoded), "decoded line is not UTF-8: " + fuzz::Quoted(decoded));
        if (fuzz::WellFormedUtf8(line)) FUZZ_CHECK(decoded == line, "a UTF-8 line was changed by decoding");
        lineByLine += decoded;
        const size_t eol = end == bytes.size() ? 0 : (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        lineByLine += bytes.substr(end, eol);
        pos = end + eol;
    }
    FUZZ_CHECK(lineByLine == text, "the lines decoded one by one give " + fuzz::Quoted(lineByLine) +
                                       ", the whole text " + fuzz::Quoted(text));

    fuzz::WriteBytes(file, bytes);
    const auto lines = ReadTextLines(file);
    FUZZ_CHECK(lines.has_value(), "a readable file read as missing");
    std::string_view rest = text;
    if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
    std::string expected;
    size_t breaks = 0;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '\r' && rest[i] != '\n') {
            expected += rest[i];
        } else if (!(rest[i] == '\n' && i > 0 && rest[i - 1] == '\r')) {
            ++breaks;  // CR LF is one line end
        }
    }
    const bool unfinished = !rest.empty() && rest.back() != '\r' && rest.back() != '\n';
    FUZZ_CHECK(lines->size() == breaks + (unfinished ? 1 : 0),
               std::to_string(lines->size()) + " lines in " + fuzz::Quoted(std::string(rest)));
    std::string joined;
    for (const std::string& line : *lines) {
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos, "a line holds a line end");
        joined += line;
    }
    FUZZ_CHECK(joined == expected, "lines " + fuzz::Quoted(joined) + " lost or added text of " + fuzz::Quoted(expected));
    return 0;
}
