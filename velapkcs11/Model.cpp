// Model table: the recognised models and the one the module refuses.
#include "Model.h"

#include <array>

namespace velatoken {

namespace {
constexpr std::array<Model, 5> kModels = { {
    { "VELA5-32", true, 32768 },
    { "VELA5-64", true, 65536 },
    { "SGL32", true, 32768 },
    { "SGL64", true, 65536 },
    { "UNKNOWN", false, 0 },
} };
} // namespace

std::optional<Model> FindModel(const std::string& name)
{
    for (const Model& model : kModels) {
        if (name == model.name) {
            return model;
        }
    }
    return std::nullopt;
}

std::string ModelNames()
{
    std::string names;
    for (const Model& model : kModels) {
        names += names.empty() ? "" : ", ";
        names += model.name;
    }
    return names;
}

} // namespace velatoken
