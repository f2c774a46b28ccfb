// Inputs the fuzz targets (tests/fuzz) found faults with, kept as plain tests.
#include "platform/pop3_text.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace platform::pop3;

namespace {

class StringSink : public Sink {
public:
    void write(const char* data, size_t size) override { text.append(data, size); }
    std::string text;
};

}  // namespace

// fuzz_pop3_text: a header that fits the cap, followed by an empty line (CR LF) that does not fit
// with it. The CR of the empty line was kept as the header's last byte.
TEST(Pop3FuzzFindings, EmptyLineCrossingTheHeaderCapIsNotKept) {
    struct Case {
        std::string message;
        size_t cap;
        std::string header;
    };
    const Case cases[] = {{"\r\nbody", 1, ""}, {"From: a\r\n\r\nbody", 10, "From: a\r\n"}};
    for (const Case& c : cases) {
        for (const size_t piece : {c.message.size(), size_t{1}}) {
            StringSink body;
            HeaderSplitter splitter(&body, c.cap);
            for (size_t i = 0; i < c.message.size(); i += piece) {
                splitter.write(c.message.data() + i, std::min(piece, c.message.size() - i));
            }
            EXPECT_EQ(splitter.header(), c.header) << "cap " << c.cap << ", pieces of " << piece;
            EXPECT_TRUE(splitter.inBody());
            EXPECT_EQ(body.text, "body");
        }
    }
}
