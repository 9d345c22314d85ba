// Everything in this library that reads the settings store lives in this
// file, so the dialogs and the randomizer also link without it.
#include "PinPolicy.h"

#include "InitializeTokenDlg.h"
#include "manager/core/NRVCMUSettings.h"

PinPolicy ReadPinPolicy(const NRVCMUSettings& settings, PinKind kind)
{
    PinPolicy policy;
    if (kind == PinKind::SO) {
        policy.type = settings.GetSOPINType();
        policy.defaultValue = settings.GetSOPINDefaultValue();
        policy.minLength = settings.GetSOPINMinLength();
        policy.maxLength = settings.GetSOPINMaxLength();
        policy.randomLength = settings.GetRandomSOPINLength();
    } else {
        policy.type = settings.GetUserPINType();
        policy.defaultValue = settings.GetUserPINDefaultValue();
        policy.minLength = settings.GetUserPINMinLength();
        policy.maxLength = settings.GetUserPINMaxLength();
        policy.randomLength = settings.GetRandomUserPINLength();
    }
    policy.classFlags = PINRandomizer::ReadClassFlags(settings, kind);
    return policy;
}

PINRandomizer::PINRandomizer(const NRVCMUSettings& settings, PinKind kind)
    : PINRandomizer(ReadClassFlags(settings, kind), kind)
{
}

PINRandomizer::ClassFlags PINRandomizer::ReadClassFlags(const NRVCMUSettings& settings, PinKind kind)
{
    ClassFlags flags;
    if (kind == PinKind::SO) {
        flags.useNumbers = settings.IsRandomSOPINUseNumbers();
        flags.useUppercaseLetters = settings.IsRandomSOPINUseUppercaseLetters();
        flags.useLowercaseLetters = settings.IsRandomSOPINUseLowercaseLetters();
        flags.useSymbols = settings.IsRandomSOPINUseSymbols();
    } else {
        flags.useNumbers = settings.IsRandomUserPINUseNumbers();
        flags.useUppercaseLetters = settings.IsRandomUserPINUseUppercaseLetters();
        flags.useLowercaseLetters = settings.IsRandomUserPINUseLowercaseLetters();
        flags.useSymbols = settings.IsRandomUserPINUseSymbols();
    }
    return flags;
}

InitializeTokenDlg::InitializeTokenDlg(wxWindow* parent, const wxString& caption,
    const wxString& slotDescription, const NRVCMUSettings& settings)
    : InitializeTokenDlg(parent, caption, slotDescription, ReadPinPolicy(settings, PinKind::User),
        ReadPinPolicy(settings, PinKind::SO))
{
}
