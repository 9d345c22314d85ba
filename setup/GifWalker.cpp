#include "setup/GifWalker.h"

#include <cstring>

namespace Gif {
namespace {

constexpr std::uint8_t kExtension = 0x21;
constexpr std::uint8_t kImage = 0x2C;
constexpr std::uint8_t kTrailer = 0x3B;
constexpr std::uint8_t kGraphicControl = 0xF9;

unsigned Word(const std::uint8_t* at)
{
    return static_cast<unsigned>(at[0]) | (static_cast<unsigned>(at[1]) << 8);
}

std::size_t TableLength(std::uint8_t packed)
{
    return (packed & 0x80) != 0 ? 3u * (2u << (packed & 0x07)) : 0u;
}

// A reader that never moves past the end; every step says whether it could.
class Cursor final {
public:
    Cursor(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    std::size_t Position() const { return m_position; }
    std::size_t Left() const { return m_size - m_position; }
    const std::uint8_t* Here() const { return m_data + m_position; }
    bool Take(std::uint8_t& byte)
    {
        if (Left() < 1) {
            return false;
        }
        byte = m_data[m_position++];
        return true;
    }
    bool Skip(std::size_t count)
    {
        if (Left() < count) {
            return false;
        }
        m_position += count;
        return true;
    }
    // Data sub-blocks up to and including their zero terminator.
    bool SkipSubBlocks()
    {
        for (;;) {
            std::uint8_t length = 0;
            if (!Take(length)) {
                return false;
            }
            if (length == 0) {
                return true;
            }
            if (!Skip(length)) {
                return false;
            }
        }
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

} // namespace

const char* Describe(WalkResult result)
{
    switch (result) {
    case WalkResult::Ok:
        return "complete";
    case WalkResult::NotGif:
        return "not a GIF file";
    case WalkResult::Truncated:
        return "the file ends inside a block";
    case WalkResult::BadBlock:
        return "a block is damaged";
    case WalkResult::TooLarge:
        return "the picture is too large";
    }
    return "unknown";
}

WalkResult Walk(const std::uint8_t* data, std::size_t size, Layout& layout)
{
    layout = Layout {};
    if (data == nullptr || size < 6
        || (std::memcmp(data, "GIF87a", 6) != 0 && std::memcmp(data, "GIF89a", 6) != 0)) {
        return WalkResult::NotGif;
    }
    if (size < kHeaderLength) {
        return WalkResult::Truncated;
    }
    layout.width = Word(data + 6);
    layout.height = Word(data + 8);
    if (std::uint64_t(layout.width) * layout.height > kMaxPixels) {
        return WalkResult::TooLarge;
    }
    const std::uint8_t packed = data[10];
    const std::uint8_t backgroundIndex = data[11];
    Cursor cursor(data, size);
    cursor.Skip(kHeaderLength);
    // Recorded only once it is known to be there.
    if (!cursor.Skip(TableLength(packed))) {
        return WalkResult::Truncated;
    }
    layout.globalTableLength = TableLength(packed);
    if (3u * backgroundIndex + 3u <= layout.globalTableLength) {
        const std::uint8_t* entry = data + kHeaderLength + 3u * backgroundIndex;
        layout.background = Rgb { entry[0], entry[1], entry[2] };
    }

    Frame pending; // the control extension waiting for its image
    for (;;) {
        const std::size_t blockStart = cursor.Position();
        std::uint8_t introducer = 0;
        if (!cursor.Take(introducer)) {
            return WalkResult::Truncated;
        }
        if (introducer == kTrailer) {
            return WalkResult::Ok;
        }
        if (introducer == kExtension) {
            std::uint8_t label = 0;
            if (!cursor.Take(label)) {
                return WalkResult::Truncated;
            }
            if (label == kGraphicControl) {
                std::uint8_t length = 0;
                if (!cursor.Take(length)) {
                    return WalkResult::Truncated;
                }
                // Packed byte, delay and transparent index: four bytes at least.
                if (length < 4) {
                    return WalkResult::BadBlock;
                }
                const std::uint8_t* fields = cursor.Here();
                if (!cursor.Skip(length)) {
                    return WalkResult::Truncated;
                }
                pending.disposal = (fields[0] >> 2) & 0x07;
                pending.delay = static_cast<int>(Word(fields + 1));
                pending.transparentIndex
                    = (fields[0] & 0x01) != 0 ? std::optional<std::uint8_t>(fields[3]) : std::nullopt;
            }
            // Plain text, comment, application and unknown extensions are
            // only skipped; their first block is a sub-block like the rest.
            if (!cursor.SkipSubBlocks()) {
                return WalkResult::Truncated;
            }
            if (label == kGraphicControl) {
                pending.controlOffset = blockStart;
                pending.controlEnd = cursor.Position();
            }
            continue;
        }
        if (introducer != kImage) {
            return WalkResult::BadBlock;
        }
        if (cursor.Left() < 9) {
            return WalkResult::Truncated;
        }
        Frame frame = pending;
        pending = Frame {};
        const std::uint8_t* descriptor = cursor.Here();
        frame.imageOffset = blockStart;
        frame.left = Word(descriptor);
        frame.top = Word(descriptor + 2);
        frame.width = Word(descriptor + 4);
        frame.height = Word(descriptor + 6);
        cursor.Skip(9);
        if (!cursor.Skip(TableLength(descriptor[8]))) {
            return WalkResult::Truncated;
        }
        std::uint8_t codeSize = 0;
        if (!cursor.Take(codeSize)) {
            return WalkResult::Truncated;
        }
        // LZW codes are at most 12 bits wide.
        if (codeSize > 11) {
            return WalkResult::BadBlock;
        }
        if (!cursor.SkipSubBlocks()) {
            return WalkResult::Truncated;
        }
        frame.imageEnd = cursor.Position();
        if (std::uint64_t(frame.width) * frame.height > kMaxPixels || layout.frames.size() >= kMaxFrames) {
            return WalkResult::TooLarge;
        }
        layout.frames.push_back(frame);
    }
}

std::vector<std::uint8_t> FrameFile(
    const std::uint8_t* data, std::size_t size, const Layout& layout, std::size_t index)
{
    if (data == nullptr || index >= layout.frames.size() || size < kHeaderLength
        || layout.globalTableLength > size - kHeaderLength) {
        return {};
    }
    const Frame& frame = layout.frames[index];
    const auto within = [size](std::size_t begin, std::size_t end) { return begin <= end && end <= size; };
    if (!within(frame.imageOffset, frame.imageEnd) || !within(frame.controlOffset, frame.controlEnd)) {
        return {};
    }
    std::vector<std::uint8_t> file;
    file.reserve(kHeaderLength + layout.globalTableLength + (frame.controlEnd - frame.controlOffset)
        + (frame.imageEnd - frame.imageOffset) + 1);
    file.insert(file.end(), data, data + kHeaderLength + layout.globalTableLength);
    file.insert(file.end(), data + frame.controlOffset, data + frame.controlEnd);
    file.insert(file.end(), data + frame.imageOffset, data + frame.imageEnd);
    file.push_back(kTrailer);
    return file;
}

std::chrono::milliseconds FrameInterval(int delay)
{
    return delay <= 4 ? std::chrono::milliseconds(100) : std::chrono::milliseconds(delay * 10);
}

} // namespace Gif
