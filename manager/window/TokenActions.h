// The token commands the main window runs on its selected slot. Each handler
// of the window calls exactly one of these; the command families live in
// LoginCommand, PinCommands, RenameCommand and InitializeCommand.
#pragma once

class TokenActionHost;

class TokenActions final {
public:
    explicit TokenActions(TokenActionHost& host);

    void Initialize();
    void Reinitialize();
    void Login();
    void Logout();
    void ChangeUserPIN();
    void ChangeSOPIN();
    void UnlockUserPIN();
    void RenameToken();

private:
    TokenActionHost& m_host;
};
