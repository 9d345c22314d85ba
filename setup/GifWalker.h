// Walks the blocks of a GIF file without trusting any of its bytes: finds the
// logical screen, the colour tables and every frame with its delay and
// disposal, and cuts a frame out as a GIF of its own for the picture decoder.
// Plain C++ so it can be fuzzed on its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace Gif {

enum class WalkResult {
    Ok, // trailer reached
    NotGif, // no "GIF87a" or "GIF89a" signature
    Truncated, // the data ends inside a block or before the trailer
    BadBlock, // a block that cannot be what it claims (unknown introducer, short control extension)
    TooLarge, // more frames or pixels than a picture of ours may have
};
const char* Describe(WalkResult result);

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const Rgb&) const = default;
};

struct Frame {
    std::size_t imageOffset = 0; // the image descriptor's ',' ...
    std::size_t imageEnd = 0; // ... to one past its data's terminator
    std::size_t controlOffset = 0; // the graphic control extension before it ...
    std::size_t controlEnd = 0; // ... (controlEnd == controlOffset: none)
    unsigned left = 0;
    unsigned top = 0;
    unsigned width = 0;
    unsigned height = 0;
    int delay = -1; // hundredths of a second; -1 without a control extension
    int disposal = 0; // bits 2-4 of the control extension's packed byte
    std::optional<std::uint8_t> transparentIndex;
};

struct Layout {
    unsigned width = 0;
    unsigned height = 0;
    std::size_t globalTableLength = 0; // bytes, after the 13-byte header
    // The global table's entry named by the background index; none without a
    // table or when the index lies beyond it.
    std::optional<Rgb> background;
    std::vector<Frame> frames;
};

constexpr std::size_t kHeaderLength = 13; // signature, version, logical screen descriptor
constexpr std::size_t kMaxFrames = 2048;
constexpr std::uint64_t kMaxPixels = 4096ull * 4096ull; // per frame and for the screen

// Walks data; layout holds what was found up to the point the walk stopped.
WalkResult Walk(const std::uint8_t* data, std::size_t size, Layout& layout);

// Frame index as a GIF file of its own: header and screen descriptor, global
// table, the frame's control extension, its image, a trailer. Empty when the
// layout does not fit data.
std::vector<std::uint8_t> FrameFile(
    const std::uint8_t* data, std::size_t size, const Layout& layout, std::size_t index);

// How long a frame stays: its delay, or 100 ms for a delay of 4 or less.
std::chrono::milliseconds FrameInterval(int delay);

} // namespace Gif
