#include "SecretString.h"

#include <openssl/crypto.h>

void SecretString::Wipe(wxString& text)
{
    if (!text.empty()) {
        OPENSSL_cleanse(const_cast<wchar_t*>(text.wc_str()), text.length() * sizeof(wchar_t));
    }
    text.clear();
}
