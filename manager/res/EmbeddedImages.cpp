#include "EmbeddedImages.h"

#include <cstring>
#include <wx/image.h>
#include <wx/mstream.h>

wxBitmap LoadEmbeddedBitmap(const char* name)
{
    if (name == nullptr) {
        return wxNullBitmap;
    }
    for (unsigned i = 0; i < kEmbeddedImageCount; ++i) {
        const EmbeddedImage& image = kEmbeddedImages[i];
        if (std::strcmp(image.name, name) != 0) {
            continue;
        }
        if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) {
            wxImage::AddHandler(new wxPNGHandler);
        }
        wxMemoryInputStream stream(image.data, image.size);
        const wxImage decoded(stream, wxBITMAP_TYPE_PNG);
        if (!decoded.IsOk()) {
            return wxNullBitmap;
        }
        return wxBitmap(decoded);
    }
    return wxNullBitmap;
}
