// Login with its result handling and the default-PIN prompt, and Logout.
#pragma once

class TokenActionHost;
class TokenCommandFrame;
class wxString;

class LoginCommand final {
public:
    static void RunLogin(TokenActionHost& host);
    static void RunLogout(TokenActionHost& host);

private:
    // Asks for a new PIN while the token still has the default one; pin is
    // the default PIN the User just logged in with.
    static void RunDefaultPinPrompt(TokenCommandFrame& frame, const wxString& label, const wxString& pin);
};
