// The main window's module for one piece of work: its poller is paused, and
// a step it was in has ended, for as long as the access is held. Commands,
// the object manager windows and their workers all hold it this way, so
// every way out of them resumes polling once and only once.
#pragma once

class TokenActionHost;

class ModuleAccess final {
public:
    ModuleAccess() = default;
    explicit ModuleAccess(TokenActionHost& host);
    ~ModuleAccess();
    ModuleAccess(ModuleAccess&& other) noexcept;
    ModuleAccess& operator=(ModuleAccess&& other) noexcept;
    ModuleAccess(const ModuleAccess&) = delete;
    ModuleAccess& operator=(const ModuleAccess&) = delete;

    bool IsHeld() const { return m_host != nullptr; }
    // Pauses the host's poller unless this access already holds it.
    void Acquire(TokenActionHost& host);
    // Resumes the poller now.
    void End();
    // The pause stays, for whoever the work was handed to: the
    // initialization worker resumes it when it reports.
    void HandOver() { m_host = nullptr; }

private:
    TokenActionHost* m_host = nullptr;
};
