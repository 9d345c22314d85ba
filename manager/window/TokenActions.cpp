#include "TokenActions.h"

#include "InitializeCommand.h"
#include "LoginCommand.h"
#include "PinCommands.h"
#include "RenameCommand.h"

TokenActions::TokenActions(TokenActionHost& host)
    : m_host(host)
{
}

void TokenActions::Initialize()
{
    InitializeCommand::Run(m_host, false);
}

void TokenActions::Reinitialize()
{
    InitializeCommand::Run(m_host, true);
}

void TokenActions::Login()
{
    LoginCommand::RunLogin(m_host);
}

void TokenActions::Logout()
{
    LoginCommand::RunLogout(m_host);
}

void TokenActions::ChangeUserPIN()
{
    PinCommands::RunChangeUserPIN(m_host);
}

void TokenActions::ChangeSOPIN()
{
    PinCommands::RunChangeSOPIN(m_host);
}

void TokenActions::UnlockUserPIN()
{
    PinCommands::RunUnlockUserPIN(m_host);
}

void TokenActions::RenameToken()
{
    RenameCommand::Run(m_host);
}
