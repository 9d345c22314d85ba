// libFuzzer target for the GIF walker: any bytes must walk without reading
// past the end, and every frame it reports must cut out as a GIF that walks
// back to that one frame.
#include "setup/GifWalker.h"

#include <cstddef>
#include <cstdint>

namespace {

void Require(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Gif::Layout layout;
    const Gif::WalkResult result = Gif::Walk(data, size, layout);
    Require(Gif::Describe(result) != nullptr);
    if (result == Gif::WalkResult::NotGif) {
        Require(layout.frames.empty());
        return 0;
    }
    Require(layout.globalTableLength <= size);
    std::size_t previousEnd = 0;
    const std::size_t checked = layout.frames.size() < 64 ? layout.frames.size() : 64;
    for (std::size_t i = 0; i < layout.frames.size(); ++i) {
        const Gif::Frame& frame = layout.frames[i];
        Require(
            previousEnd <= frame.imageOffset && frame.imageOffset < frame.imageEnd && frame.imageEnd <= size);
        Require(frame.controlOffset <= frame.controlEnd && frame.controlEnd <= frame.imageOffset);
        previousEnd = frame.imageEnd;
        if (i >= checked) {
            continue;
        }
        const std::vector<std::uint8_t> file = Gif::FrameFile(data, size, layout, i);
        Gif::Layout single;
        Require(Gif::Walk(file.data(), file.size(), single) == Gif::WalkResult::Ok);
        Require(single.frames.size() == 1);
        Require(single.frames[0].width == frame.width && single.frames[0].height == frame.height);
        Require(single.frames[0].delay == frame.delay && single.frames[0].disposal == frame.disposal);
    }
    Require(Gif::FrameFile(data, size, layout, layout.frames.size()).empty());
    return 0;
}
