// The PIN commands of the main window: change the User PIN, change the SO
// PIN, unlock the User PIN.
#pragma once

class TokenActionHost;

class PinCommands final {
public:
    static void RunChangeUserPIN(TokenActionHost& host);
    static void RunChangeSOPIN(TokenActionHost& host);
    static void RunUnlockUserPIN(TokenActionHost& host);
};
