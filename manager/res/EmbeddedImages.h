// The manager's own artwork, compiled into the program from the PNG files
// beside this header and looked up by resource name.
#pragma once

#include <cstddef>
#include <wx/bitmap.h>

struct EmbeddedImage {
    const char* name;
    const unsigned char* data;
    size_t size;
};

extern const EmbeddedImage kEmbeddedImages[];
extern const unsigned kEmbeddedImageCount;

// The image of that name ("CheckerTrue"), or an invalid bitmap when there is
// none or it cannot be decoded.
wxBitmap LoadEmbeddedBitmap(const char* name);
