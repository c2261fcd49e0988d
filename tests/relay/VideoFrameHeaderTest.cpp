#include "relay/VideoFrameHeader.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

using namespace doorwarden;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes written(const VideoFrameHeader& header)
{
    Bytes out(VideoFrameHeader::size, 0xaa); // garbage, so reserved bytes must be cleared
    header.write(std::span<std::uint8_t, VideoFrameHeader::size>(out.data(), VideoFrameHeader::size));
    return out;
}

VideoFrameHeader sampleHeader()
{
    VideoFrameHeader header;
    header.kind = VideoFrameHeader::Kind::h264AccessUnit;
    header.isKeyFrame = true;
    header.sequence = 0x01020304;
    header.width = 1920;
    header.height = 1080;
    header.displayWidth = 1280;
    header.displayHeight = -2;
    header.bodyLength = 0x0a0b0c0d;
    return header;
}

} // namespace

TEST(VideoFrameHeaderTest, WritesTheExactLayout)
{
    const Bytes expected = {
        0x34, 0x46, 0x57, 0x44, // magic "4FWD"
        0x02,                   // kind: H.264 access unit
        0x01,                   // format version
        0x01,                   // key frame
        0x00,                   // reserved
        0x04, 0x03, 0x02, 0x01, // sequence
        0x80, 0x07, 0x00, 0x00, // width 1920
        0x38, 0x04, 0x00, 0x00, // height 1080
        0x48, 0x00, 0x00, 0x00, // 72 dpi
        0x48, 0x00, 0x00, 0x00, // 72 dpi
        0x00, 0x05, 0x00, 0x00, // display width 1280
        0xfe, 0xff, 0xff, 0xff, // display height -2
        0x0d, 0x0c, 0x0b, 0x0a, // body length
        0x00, 0x00, 0x00, 0x00, // reserved
    };
    EXPECT_EQ(written(sampleHeader()), expected);

    VideoFrameHeader jpeg;
    jpeg.kind = VideoFrameHeader::Kind::jpegImage;
    const Bytes bytes = written(jpeg);
    EXPECT_EQ(bytes[4], 0x01);
    EXPECT_EQ(bytes[6], 0x00);
}

TEST(VideoFrameHeaderTest, ReadsBackWhatItWrites)
{
    VideoFrameHeader extremes;
    extremes.kind = VideoFrameHeader::Kind::jpegImage;
    extremes.sequence = UINT32_MAX;
    extremes.width = INT32_MAX;
    extremes.height = INT32_MIN;
    extremes.displayWidth = -1;
    extremes.displayHeight = 0;
    extremes.bodyLength = UINT32_MAX;

    for (const auto& header : {sampleHeader(), extremes, VideoFrameHeader{}}) {
        Bytes bytes = written(header);
        EXPECT_EQ(VideoFrameHeader::read(bytes), header);
        bytes.insert(bytes.end(), {1, 2, 3}); // a body after the header is not read
        EXPECT_EQ(VideoFrameHeader::read(bytes), header);
    }
}

TEST(VideoFrameHeaderTest, RefusesWhatIsNotAHeader)
{
    const Bytes valid = written(sampleHeader());
    auto with = [&](std::size_t offset, std::uint8_t value) {
        Bytes bytes = valid;
        bytes[offset] = value;
        return bytes;
    };
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"one byte short", Bytes(valid.begin(), valid.end() - 1)},
        {"magic byte 0", with(0, 0x35)},
        {"magic byte 3", with(3, 0x00)},
        {"version 0", with(5, 0)},
        {"version 2", with(5, 2)},
        {"kind 0", with(4, 0)},
        {"kind 3", with(4, 3)},
        {"kind 255", with(4, 0xff)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VideoFrameHeader::read(c.bytes), std::nullopt) << c.name;
    }
}
