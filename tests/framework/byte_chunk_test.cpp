#include "framework/byte_chunk.h"
#include "framework/config.h"

#include <gtest/gtest.h>

namespace {

using iplug::IByteChunk;

TEST(IByteChunk, ReadsBackWhatWasWrittenAndRefusesReadsPastTheEnd) {
    IByteChunk chunk;
    const double d = 2.5;
    const int i = -7;
    EXPECT_EQ(chunk.Put(&d), 8);
    EXPECT_EQ(chunk.PutStr("abc"), 8 + 4 + 3);
    EXPECT_EQ(chunk.Put(&i), 19);

    double dBack = 0.0;
    std::string s;
    int iBack = 0;
    int pos = chunk.Get(&dBack, 0);
    pos = chunk.GetStr(s, pos);
    pos = chunk.Get(&iBack, pos);
    EXPECT_EQ(pos, chunk.Size());
    EXPECT_EQ(dBack, d);
    EXPECT_EQ(s, "abc");
    EXPECT_EQ(iBack, i);

    EXPECT_EQ(chunk.Get(&iBack, 16), -1); // 3 bytes left for 4
    EXPECT_EQ(chunk.Get(&iBack, -1), -1);
    EXPECT_EQ(chunk.Get(&iBack, 1000), -1);

    // A string whose length field points past the end is refused, not read.
    IByteChunk bad;
    const int longLength = 1000;
    bad.Put(&longLength);
    bad.PutBytes("xy", 2);
    EXPECT_EQ(bad.GetStr(s, 0), -1);
    EXPECT_EQ(s, "abc");

    EXPECT_EQ(chunk.Resize(4), 4);
    EXPECT_EQ(chunk.Resize(6), 6);
    EXPECT_EQ(chunk.GetData()[5], 0);
    EXPECT_THROW(chunk.Resize(-1), std::length_error);
    EXPECT_THROW(chunk.PutBytes("", -1), std::length_error);
    chunk.Clear();
    EXPECT_EQ(chunk.Size(), 0);
}

TEST(ChannelIO, ParsesPairsAndRefusesMalformedStrings) {
    const auto ios = iplug::ParseChannelIOStr("1-1 2-2");
    ASSERT_EQ(ios.size(), 2u);
    EXPECT_EQ(ios[1], (iplug::ChannelIO{2, 2}));
    for (const char* bad : {"", "  ", "1-", "-1", "1_1", "1-1 x", "100-1", "1--1"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(iplug::ParseChannelIOStr(bad), std::invalid_argument);
    }
}

} // namespace
