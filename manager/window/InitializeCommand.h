// Initialize and Re-initialize Token: the dialog and the session clean-up on
// the GUI thread, the card operation on MainInitializeTokenThread.
#pragma once

class TokenActionHost;

class InitializeCommand final {
public:
    static void Run(TokenActionHost& host, bool reinitialize);
};
