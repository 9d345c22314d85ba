// The GIF walker on files the tests make: frames, delays, disposal and
// offsets found exactly; damaged and cut files stop with their result and
// never read past the end.
#include "GifMaker.h"
#include "setup/GifWalker.h"

#include <gtest/gtest.h>

namespace {

constexpr std::size_t kFirstBlock = Gif::kHeaderLength + 48; // after the 16-colour global table

Gif::WalkResult WalkBytes(const std::vector<std::uint8_t>& bytes, Gif::Layout& layout)
{
    // A copy of exactly the file's size, so a read beyond it is a read past
    // the heap block that the sanitizer build reports.
    const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    return Gif::Walk(exact.get(), bytes.size(), layout);
}

TEST(GifWalkerTest, OneFrameWithoutControlExtension)
{
    const auto bytes
        = GifMaker(20, 10, 2).Colour(2, 0x93, 0x94, 0x95).Add(GifMaker::Solid(3, 4, 5, 6, 1)).Bytes();
    Gif::Layout layout;
    ASSERT_EQ(Gif::WalkResult::Ok, WalkBytes(bytes, layout));
    EXPECT_EQ(20u, layout.width);
    EXPECT_EQ(10u, layout.height);
    EXPECT_EQ(48u, layout.globalTableLength);
    EXPECT_EQ((Gif::Rgb { 0x93, 0x94, 0x95 }), layout.background);
    ASSERT_EQ(1u, layout.frames.size());
    const Gif::Frame& frame = layout.frames[0];
    EXPECT_EQ(kFirstBlock, frame.imageOffset);
    EXPECT_EQ(bytes.size() - 1, frame.imageEnd); // the trailer follows
    EXPECT_EQ(frame.controlOffset, frame.controlEnd);
    EXPECT_EQ(-1, frame.delay);
    EXPECT_EQ((std::array<unsigned, 4> { 3, 4, 5, 6 }),
        (std::array<unsigned, 4> { frame.left, frame.top, frame.width, frame.height }));
    EXPECT_EQ(std::chrono::milliseconds(100), Gif::FrameInterval(frame.delay));
}

TEST(GifWalkerTest, SeveralFramesKeepTheirDelaysDisposalAndOffsets)
{
    GifMaker maker(16, 16);
    maker.Comment({ 'h', 'i' });
    maker.Add(GifMaker::Solid(0, 0, 16, 16, 1, 0, 1));
    maker.Add(GifMaker::Solid(2, 3, 4, 5, 2, 4, 3));
    maker.Add(GifMaker::Solid(1, 1, 8, 8, 3, 5, 2));
    maker.Add(GifMaker::Solid(0, 0, 2, 2, 4));
    std::vector<std::size_t> offsets;
    const auto bytes = maker.Bytes(&offsets);
    Gif::Layout layout;
    ASSERT_EQ(Gif::WalkResult::Ok, WalkBytes(bytes, layout));
    ASSERT_EQ(4u, layout.frames.size());

    const int delays[] = { 0, 4, 5, -1 };
    const int disposals[] = { 1, 3, 2, 0 };
    const long intervals[] = { 100, 100, 50, 100 };
    for (std::size_t i = 0; i < 4; ++i) {
        const Gif::Frame& frame = layout.frames[i];
        EXPECT_EQ(offsets[i], frame.imageOffset) << i;
        EXPECT_EQ(delays[i], frame.delay) << i;
        EXPECT_EQ(disposals[i], frame.disposal) << i;
        EXPECT_EQ(intervals[i], Gif::FrameInterval(frame.delay).count()) << i;
        if (delays[i] >= 0) {
            // The control extension sits right before its image.
            EXPECT_EQ(offsets[i] - 8, frame.controlOffset) << i;
            EXPECT_EQ(offsets[i], frame.controlEnd) << i;
        }
        if (i + 1 < 4) {
            EXPECT_LE(frame.imageEnd, offsets[i + 1]) << i;
        }
    }
    EXPECT_EQ(2u, layout.frames[1].left);
    EXPECT_EQ(3u, layout.frames[1].top);
    // The last frame had no control extension of its own: the one before it
    // must not carry over.
    EXPECT_EQ(layout.frames[3].controlOffset, layout.frames[3].controlEnd);
}

TEST(GifWalkerTest, AFrameCutOutIsAOneFrameGifOfTheSameImage)
{
    GifMaker maker(16, 16);
    maker.Add(GifMaker::Solid(0, 0, 16, 16, 1, 7, 1));
    maker.Add(GifMaker::Solid(2, 3, 4, 5, 2, 9, 3));
    const auto bytes = maker.Bytes();
    Gif::Layout layout;
    ASSERT_EQ(Gif::WalkResult::Ok, WalkBytes(bytes, layout));
    const auto file = Gif::FrameFile(bytes.data(), bytes.size(), layout, 1);
    Gif::Layout single;
    ASSERT_EQ(Gif::WalkResult::Ok, WalkBytes(file, single));
    ASSERT_EQ(1u, single.frames.size());
    EXPECT_EQ(9, single.frames[0].delay);
    EXPECT_EQ(3, single.frames[0].disposal);
    EXPECT_EQ(4u, single.frames[0].width);
    EXPECT_TRUE(std::equal(bytes.begin() + static_cast<long>(layout.frames[1].imageOffset),
        bytes.begin() + static_cast<long>(layout.frames[1].imageEnd),
        file.begin() + static_cast<long>(single.frames[0].imageOffset)));
    EXPECT_TRUE(Gif::FrameFile(bytes.data(), bytes.size(), layout, 2).empty());
    EXPECT_TRUE(Gif::FrameFile(bytes.data(), 12, layout, 0).empty());
}

TEST(GifWalkerTest, DamagedBlocksStopWithTheirResult)
{
    GifMaker maker(8, 8);
    maker.Add(GifMaker::Solid(0, 0, 8, 8, 1, 10, 0));
    maker.Add(GifMaker::Solid(0, 0, 8, 8, 2, 10, 0));
    const auto good = maker.Bytes();
    Gif::Layout layout;
    ASSERT_EQ(Gif::WalkResult::Ok, WalkBytes(good, layout));
    const std::size_t secondImage = layout.frames[1].imageOffset;
    const std::size_t firstData = layout.frames[0].imageOffset + 11; // descriptor and code size

    struct Case {
        const char* name;
        std::size_t at;
        std::uint8_t value;
        Gif::WalkResult expected;
    };
    const Case cases[] = {
        { "sub-block length beyond the end", firstData, 0xFF, Gif::WalkResult::Truncated },
        { "control extension of 3 bytes", kFirstBlock + 2, 3, Gif::WalkResult::BadBlock },
        { "control extension longer than the file", kFirstBlock + 2, 0xFF, Gif::WalkResult::Truncated },
        { "unknown block introducer", secondImage - 8, 0x99, Gif::WalkResult::BadBlock },
        { "local table beyond the end", secondImage + 9, 0x87, Gif::WalkResult::Truncated },
        { "global table beyond the end", 10, 0x87, Gif::WalkResult::Truncated },
        { "LZW code size of 12", layout.frames[0].imageOffset + 10, 12, Gif::WalkResult::BadBlock },
        { "version 88a", 4, '8', Gif::WalkResult::NotGif },
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bytes = good;
        bytes[c.at] = c.value;
        EXPECT_EQ(c.expected, WalkBytes(bytes, layout)) << c.name;
    }
}

TEST(GifWalkerTest, EveryCutOfTheFileIsTruncatedNeverComplete)
{
    GifMaker maker(8, 8);
    maker.Comment({ 'c' });
    maker.Add(GifMaker::Solid(0, 0, 8, 8, 1, 10, 3));
    maker.Add(GifMaker::Solid(1, 1, 2, 2, 2, 10, 0));
    const auto bytes = maker.Bytes();
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        Gif::Layout layout;
        const Gif::WalkResult result = WalkBytes(
            std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(size)), layout);
        EXPECT_EQ(size < 6 ? Gif::WalkResult::NotGif : Gif::WalkResult::Truncated, result) << size;
        EXPECT_LE(layout.frames.size(), 2u);
        for (const Gif::Frame& frame : layout.frames) {
            EXPECT_LE(frame.imageEnd, size);
        }
    }
}

TEST(GifWalkerTest, ABackgroundIndexBeyondTheTableNamesNoColour)
{
    auto bytes = GifMaker(4, 4, 3).Add(GifMaker::Solid(0, 0, 4, 4, 1)).Bytes();
    bytes[10] = 0x80; // a table of two entries only
    bytes.erase(bytes.begin() + 13 + 6, bytes.begin() + 13 + 48);
    Gif::Layout layout;
    ASSERT_EQ(Gif::WalkResult::Ok, WalkBytes(bytes, layout));
    EXPECT_EQ(6u, layout.globalTableLength);
    EXPECT_FALSE(layout.background.has_value());
}

TEST(GifWalkerTest, OversizedPicturesAreRefused)
{
    Gif::Layout layout;
    auto screen = GifMaker(0xFFFF, 0xFFFF).Add(GifMaker::Solid(0, 0, 1, 1, 1)).Bytes();
    EXPECT_EQ(Gif::WalkResult::TooLarge, WalkBytes(screen, layout));

    GifMaker maker(4, 4);
    maker.Add(GifMaker::Solid(0, 0, 1, 1, 1));
    auto frame = maker.Bytes();
    frame[kFirstBlock + 5] = 0xFF; // width
    frame[kFirstBlock + 6] = 0xFF;
    frame[kFirstBlock + 7] = 0xFF; // height
    frame[kFirstBlock + 8] = 0xFF;
    EXPECT_EQ(Gif::WalkResult::TooLarge, WalkBytes(frame, layout));

    std::vector<std::uint8_t> many = GifMaker(1, 1).Bytes();
    many.pop_back();
    const std::vector<std::uint8_t> tiny = { 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 0 };
    for (std::size_t i = 0; i <= Gif::kMaxFrames; ++i) {
        many.insert(many.end(), tiny.begin(), tiny.end());
    }
    many.push_back(0x3B);
    EXPECT_EQ(Gif::WalkResult::TooLarge, WalkBytes(many, layout));
    EXPECT_EQ(Gif::kMaxFrames, layout.frames.size());
}

} // namespace
