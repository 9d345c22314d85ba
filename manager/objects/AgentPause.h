// Pauses and continues the certificate propagation agent around the
// certificate manager's token operations, through the high half of the
// shared word VCPSFLAG, while certificate propagation is switched on.
#pragma once

#include <cstdint>
#include <string>

class AgentPause final {
public:
    static constexpr uint16_t kPause = 0x1001;
    static constexpr uint16_t kContinue = 0x1000;

    // remembered: the agent was last told to continue (or is taken to be
    // running). The window starts with it set, so its first listing already
    // keeps the agent off the token.
    explicit AgentPause(bool remembered = true, std::string wordName = "VCPSFLAG");

    // Writes the pause command when enabled and the agent was told to
    // continue; the remembered state clears when the write lands.
    void Pause(bool enabled);
    // Writes the continue command when enabled and the agent is paused.
    void Continue(bool enabled);

    bool IsRemembered() const { return m_remembered; }

private:
    bool Write(uint16_t command);

    bool m_remembered;
    std::string m_wordName;
};
