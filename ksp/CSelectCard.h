// The reader selection dialog: "Please select a smart card" above a sorted
// drop-down list of readers (control 1005), "OK" and "Cancel". Opening the
// list lists the readers again, so a reader attached meanwhile appears. The
// window is named "CSelectCard", by which tests find and answer it.
#pragma once

#include "ksp/DebugClass.h"

#include <functional>
#include <string>
#include <vector>

class CSelectCard final {
public:
    static constexpr int kReaderListId = 1005;
    static constexpr const char* kWindowName = "CSelectCard";

    // Starts wx when the host has not, shows the dialog modally on this
    // thread, and returns true with the reader's name when "OK" ends it.
    static bool Run(const std::vector<std::u16string>& readers,
        const std::function<std::vector<std::u16string>()>& relist, const DebugClass& log,
        std::u16string& chosen);
};
