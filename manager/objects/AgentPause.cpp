#include "AgentPause.h"

#include "manager/host/CertPropControl.h"

AgentPause::AgentPause(bool remembered)
    : m_remembered(remembered)
{
}

bool AgentPause::Write(uint16_t command)
{
    return CertPropControl::SetCertPropFlag(static_cast<uint32_t>(command) << 16) == 0;
}

void AgentPause::Pause(bool enabled)
{
    if (enabled && m_remembered && Write(kPause)) {
        m_remembered = false;
    }
}

void AgentPause::Continue(bool enabled)
{
    if (enabled && !m_remembered && Write(kContinue)) {
        m_remembered = true;
    }
}
