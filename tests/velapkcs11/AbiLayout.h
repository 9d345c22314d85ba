// Layout figures of a PKCS#11 header, one table per header, so ours can be
// compared with the system's: the two cannot share a translation unit.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

struct AbiFigure {
    std::string_view name;
    size_t value;
};

std::vector<AbiFigure> KitAbiLayout();
std::vector<AbiFigure> SystemAbiLayout();
