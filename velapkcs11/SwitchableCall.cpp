#include "SwitchableCall.h"

namespace {

constexpr const char* kNames[] = {
#define VELA5_SWITCHABLE_NAME(name) #name,
#define VELA5_SWITCHABLE_VARIANT_NAME(name, text) text,
    VELA5_SWITCHABLE_CALLS(VELA5_SWITCHABLE_NAME) VELA5_SWITCHABLE_VARIANTS(VELA5_SWITCHABLE_VARIANT_NAME)
#undef VELA5_SWITCHABLE_VARIANT_NAME
#undef VELA5_SWITCHABLE_NAME
};

constexpr auto kCount = sizeof kNames / sizeof kNames[0];
static_assert(kCount == static_cast<std::size_t>(SwitchableCall::None));

} // namespace

const char* SwitchableCallName(SwitchableCall call)
{
    const auto index = static_cast<std::size_t>(call);
    return index < kCount ? kNames[index] : "";
}

std::optional<SwitchableCall> FindSwitchableCall(std::string_view name)
{
    for (std::size_t i = 0; i < kCount; ++i) {
        if (name == kNames[i]) {
            return static_cast<SwitchableCall>(i);
        }
    }
    return std::nullopt;
}

std::string SwitchableCallNames()
{
    std::string names;
    for (const char* name : kNames) {
        names += (names.empty() ? "" : ", ") + std::string(name);
    }
    return names;
}
