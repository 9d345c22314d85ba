// Makes GIF files for the tests: a logical screen with a global table and
// frames of colour indices, each with an optional control extension. The
// image data is real LZW (fixed-width codes with a clear code before the
// table would widen them), so wx decodes what this writes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

struct GifMakerFrame {
    unsigned left = 0;
    unsigned top = 0;
    unsigned width = 1;
    unsigned height = 1;
    std::vector<std::uint8_t> pixels; // width * height colour indices
    std::optional<int> delay; // a control extension when set
    int disposal = 0;
    std::optional<std::uint8_t> transparent;
};

class GifMaker {
public:
    static constexpr int kCodeSize = 4; // 16 colours

    GifMaker(unsigned width, unsigned height, std::uint8_t backgroundIndex = 0)
        : m_width(width)
        , m_height(height)
        , m_backgroundIndex(backgroundIndex)
    {
    }
    // Sets colour index (0..15) of the global table.
    GifMaker& Colour(std::uint8_t index, std::uint8_t red, std::uint8_t green, std::uint8_t blue)
    {
        m_table[index * 3u] = red;
        m_table[index * 3u + 1] = green;
        m_table[index * 3u + 2] = blue;
        return *this;
    }
    GifMaker& Add(const GifMakerFrame& frame)
    {
        m_frames.push_back(frame);
        return *this;
    }
    // A frame of one colour.
    static GifMakerFrame Solid(unsigned left, unsigned top, unsigned width, unsigned height,
        std::uint8_t index, std::optional<int> delay = std::nullopt, int disposal = 0)
    {
        GifMakerFrame frame { left, top, width, height, std::vector<std::uint8_t>(width * height, index),
            delay, disposal, std::nullopt };
        return frame;
    }
    GifMaker& Comment(const std::vector<std::uint8_t>& text)
    {
        m_comment = text;
        return *this;
    }

    // The file; offsets of each frame's image descriptor in imageOffsets.
    std::vector<std::uint8_t> Bytes(std::vector<std::size_t>* imageOffsets = nullptr) const
    {
        std::vector<std::uint8_t> out = { 'G', 'I', 'F', '8', '9', 'a' };
        Word(out, m_width);
        Word(out, m_height);
        out.push_back(0x80 | 0x30 | (kCodeSize - 1));
        out.push_back(m_backgroundIndex);
        out.push_back(0);
        out.insert(out.end(), m_table.begin(), m_table.end());
        if (!m_comment.empty()) {
            out.push_back(0x21);
            out.push_back(0xFE);
            SubBlocks(out, m_comment);
        }
        for (const GifMakerFrame& frame : m_frames) {
            if (frame.delay) {
                out.insert(out.end(), { 0x21, 0xF9, 0x04 });
                out.push_back(static_cast<std::uint8_t>((frame.disposal << 2) | (frame.transparent ? 1 : 0)));
                Word(out, static_cast<unsigned>(*frame.delay));
                out.push_back(frame.transparent.value_or(0));
                out.push_back(0);
            }
            if (imageOffsets != nullptr) {
                imageOffsets->push_back(out.size());
            }
            out.push_back(0x2C);
            Word(out, frame.left);
            Word(out, frame.top);
            Word(out, frame.width);
            Word(out, frame.height);
            out.push_back(0);
            out.push_back(kCodeSize);
            SubBlocks(out, Lzw(frame.pixels));
        }
        out.push_back(0x3B);
        return out;
    }

private:
    static void Word(std::vector<std::uint8_t>& out, unsigned value)
    {
        out.push_back(static_cast<std::uint8_t>(value & 0xFF));
        out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    }
    static void SubBlocks(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& data)
    {
        for (std::size_t start = 0; start < data.size(); start += 255) {
            const std::size_t length = std::min<std::size_t>(255, data.size() - start);
            out.push_back(static_cast<std::uint8_t>(length));
            out.insert(out.end(), data.begin() + static_cast<long>(start),
                data.begin() + static_cast<long>(start + length));
        }
        out.push_back(0);
    }
    static std::vector<std::uint8_t> Lzw(const std::vector<std::uint8_t>& pixels)
    {
        const unsigned clear = 1u << kCodeSize;
        const unsigned width = kCodeSize + 1;
        std::vector<unsigned> codes;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            if (i % (clear - 4) == 0) {
                codes.push_back(clear);
            }
            codes.push_back(pixels[i]);
        }
        codes.push_back(clear + 1);
        std::vector<std::uint8_t> out;
        unsigned long bits = 0;
        unsigned count = 0;
        for (const unsigned code : codes) {
            bits |= static_cast<unsigned long>(code) << count;
            count += width;
            while (count >= 8) {
                out.push_back(static_cast<std::uint8_t>(bits & 0xFF));
                bits >>= 8;
                count -= 8;
            }
        }
        if (count > 0) {
            out.push_back(static_cast<std::uint8_t>(bits & 0xFF));
        }
        return out;
    }

    unsigned m_width;
    unsigned m_height;
    std::uint8_t m_backgroundIndex;
    std::vector<std::uint8_t> m_table = std::vector<std::uint8_t>(48, 0);
    std::vector<std::uint8_t> m_comment;
    std::vector<GifMakerFrame> m_frames;
};
