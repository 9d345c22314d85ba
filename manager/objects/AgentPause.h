// Pauses and continues the certificate propagation agent around the
// certificate manager's token operations, through the high half of the
// shared word VCPSFLAG, while certificate propagation is switched on.
#pragma once

#include "manager/host/CertPropControl.h"

#include <cstdint>

class AgentPause final {
public:
    static constexpr uint16_t kPause = CertPropControl::kFlagPause >> 16;
    static constexpr uint16_t kContinue = CertPropControl::kFlagContinue >> 16;

    // remembered: the agent was last told to continue (or is taken to be
    // running). The window starts with it set, so its first listing already
    // keeps the agent off the token.
    explicit AgentPause(bool remembered = true);

    // Writes the pause command when enabled and the agent was told to
    // continue; the remembered state clears when the write lands.
    void Pause(bool enabled);
    // Writes the continue command when enabled and the agent is paused.
    void Continue(bool enabled);

    bool IsRemembered() const { return m_remembered; }

private:
    bool Write(uint16_t command);

    bool m_remembered;
};
