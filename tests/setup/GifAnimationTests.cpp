// Frames decoded by wx from the walker's cuts, and the canvas they make:
// offsets, transparency, restore-previous, and the clear after the last frame.
#include "GifMaker.h"
#include "setup/GifAnimation.h"

#include <gtest/gtest.h>
#include <wx/image.h>
#include <wx/mstream.h>
#include <wx/wfstream.h>

namespace {

class ImageHandlers : public testing::Environment {
public:
    void SetUp() override { wxInitAllImageHandlers(); }
};
const auto* const kHandlers = testing::AddGlobalTestEnvironment(new ImageHandlers);

struct Colour {
    unsigned char r, g, b;
    bool operator==(const Colour&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Colour& c)
{
    return out << "rgb(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}
Colour At(const wxImage& image, int x, int y)
{
    return { image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y) };
}

const Colour kGrey { 0x93, 0x93, 0x93 };
const Colour kRed { 0xFF, 0, 0 };
const Colour kGreen { 0, 0xFF, 0 };
const Colour kBlue { 0, 0, 0xFF };

GifMaker Palette(unsigned width, unsigned height)
{
    GifMaker maker(width, height, 0);
    maker.Colour(0, 0x93, 0x93, 0x93).Colour(1, 0xFF, 0, 0).Colour(2, 0, 0xFF, 0).Colour(3, 0, 0, 0xFF);
    return maker;
}

TEST(GifAnimationTest, FramesComposeAtTheirOffsetsAndStartAgainOnACleanCanvas)
{
    GifMaker maker = Palette(8, 8);
    maker.Add(GifMaker::Solid(0, 0, 6, 6, 1, 0, 1));
    maker.Add(GifMaker::Solid(2, 3, 4, 5, 2, 4, 3));
    GifMakerFrame corners { 6, 6, 2, 2, { 3, 5, 5, 3 }, 5, 0, std::uint8_t(5) };
    maker.Add(corners);

    GifAnimation animation;
    ASSERT_TRUE(animation.LoadBytes(maker.Bytes()));
    ASSERT_TRUE(animation.IsAnimated());
    ASSERT_EQ(3u, animation.Frames().size());
    EXPECT_EQ(wxSize(4, 5), animation.Frames()[1].picture.GetSize());
    EXPECT_EQ(wxSize(8, 8), animation.Canvas().GetSize());
    EXPECT_EQ(kGrey, At(animation.Canvas(), 0, 0));

    EXPECT_EQ(100, animation.Advance().count()); // delay 0
    EXPECT_EQ(kRed, At(animation.Canvas(), 5, 5));
    EXPECT_EQ(kGrey, At(animation.Canvas(), 6, 6));

    EXPECT_EQ(100, animation.Advance().count()); // delay 4
    EXPECT_EQ(kGreen, At(animation.Canvas(), 2, 3));
    EXPECT_EQ(kGreen, At(animation.Canvas(), 5, 7));
    EXPECT_EQ(kRed, At(animation.Canvas(), 1, 3));

    EXPECT_EQ(50, animation.Advance().count()); // delay 5
    // Restore-previous gave the green frame's area back as it was.
    EXPECT_EQ(kRed, At(animation.Canvas(), 2, 3));
    EXPECT_EQ(kGrey, At(animation.Canvas(), 5, 7));
    EXPECT_EQ(kBlue, At(animation.Canvas(), 6, 6));
    EXPECT_EQ(kBlue, At(animation.Canvas(), 7, 7));
    // Transparent pixels leave the canvas alone.
    EXPECT_EQ(kGrey, At(animation.Canvas(), 7, 6));

    animation.Advance();
    EXPECT_EQ(0u, animation.CurrentFrame());
    EXPECT_EQ(kGrey, At(animation.Canvas(), 6, 6));
    EXPECT_EQ(kRed, At(animation.Canvas(), 0, 0));
}

TEST(GifAnimationTest, RestoreToBackgroundClearsTheFramesArea)
{
    GifMaker maker = Palette(4, 4);
    maker.Add(GifMaker::Solid(0, 0, 2, 2, 1, 10, 2));
    maker.Add(GifMaker::Solid(2, 2, 2, 2, 3, 10, 1));
    GifAnimation animation;
    ASSERT_TRUE(animation.LoadBytes(maker.Bytes()));
    animation.Advance();
    EXPECT_EQ(kRed, At(animation.Canvas(), 1, 1));
    animation.Advance();
    EXPECT_EQ(kGrey, At(animation.Canvas(), 1, 1));
    EXPECT_EQ(kBlue, At(animation.Canvas(), 3, 3));
}

TEST(GifAnimationTest, OneFrameAndOtherFormatsAreStillPictures)
{
    GifMaker one = Palette(3, 2);
    one.Add(GifMaker::Solid(0, 0, 3, 2, 2, 10));
    GifAnimation animation;
    ASSERT_TRUE(animation.LoadBytes(one.Bytes()));
    EXPECT_FALSE(animation.IsAnimated());
    EXPECT_EQ(wxSize(3, 2), animation.Canvas().GetSize());
    EXPECT_EQ(kGreen, At(animation.Canvas(), 2, 1));

    wxImage picture(5, 4);
    picture.SetRGB(wxRect(0, 0, 5, 4), 0, 0, 0xFF);
    wxMemoryOutputStream out;
    ASSERT_TRUE(picture.SaveFile(out, wxBITMAP_TYPE_PNG));
    std::vector<std::uint8_t> png(out.GetSize());
    out.CopyTo(png.data(), png.size());
    ASSERT_TRUE(animation.LoadBytes(png));
    EXPECT_EQ(Gif::WalkResult::NotGif, animation.Walked());
    EXPECT_FALSE(animation.IsAnimated());
    EXPECT_EQ(kBlue, At(animation.Canvas(), 4, 3));
}

TEST(GifAnimationTest, BrokenOrMissingFilesGiveNoAnimationAndNoCrash)
{
    GifMaker maker = Palette(4, 4);
    maker.Add(GifMaker::Solid(0, 0, 4, 4, 1, 10));
    maker.Add(GifMaker::Solid(0, 0, 4, 4, 2, 10));
    auto bytes = maker.Bytes();
    bytes.erase(bytes.end() - 6, bytes.end());
    GifAnimation animation;
    animation.LoadBytes(bytes);
    EXPECT_EQ(Gif::WalkResult::Truncated, animation.Walked());
    EXPECT_FALSE(animation.IsAnimated());

    EXPECT_FALSE(animation.LoadFile("/nonexistent/ajax-loader.gif"));
    EXPECT_FALSE(animation.IsLoaded());
    EXPECT_FALSE(animation.LoadBytes({}));
}

TEST(GifAnimationTest, AFrameWxCannotDecodeStaysAsAPause)
{
    GifMaker maker = Palette(4, 4);
    maker.Add(GifMaker::Solid(0, 0, 4, 4, 1, 10));
    maker.Add(GifMaker::Solid(0, 0, 4, 4, 2, 20));
    std::vector<std::size_t> offsets;
    auto bytes = maker.Bytes(&offsets);
    // A frame of no width: the walker lets it through, wx decodes no picture.
    bytes[offsets[1] + 5] = 0;
    GifAnimation animation;
    ASSERT_TRUE(animation.LoadBytes(bytes));
    ASSERT_EQ(2u, animation.Frames().size());
    animation.Advance();
    EXPECT_FALSE(animation.Frames()[1].picture.IsOk());
    EXPECT_EQ(200, animation.Advance().count());
    EXPECT_EQ(kRed, At(animation.Canvas(), 0, 0));
}

} // namespace
