#include "AgentPause.h"

#include "platform/shared_word/SharedWord.h"

AgentPause::AgentPause(bool remembered, std::string wordName)
    : m_remembered(remembered)
    , m_wordName(std::move(wordName))
{
}

bool AgentPause::Write(uint16_t command)
{
    SharedWord::Word word;
    if (SharedWord::Word::Open(m_wordName, SharedWord::Access::ReadWrite, word) != SharedWord::Success) {
        return false;
    }
    return word.WriteHalf(SharedWord::Half::High, command) == SharedWord::Success;
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
