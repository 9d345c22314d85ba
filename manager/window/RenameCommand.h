// Rename Token: restores the User login with the cached PIN, then writes the
// new label.
#pragma once

class TokenActionHost;

class RenameCommand final {
public:
    static void Run(TokenActionHost& host);
};
