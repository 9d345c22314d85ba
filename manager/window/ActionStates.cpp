#include "ActionStates.h"

ActionStates DecideActions(
    bool enable, const SlotRecord& record, const DisplayedToken& token, bool listHasRows)
{
    ActionStates states;
    states.slotTree = enable;
    if (!enable) {
        return states;
    }
    states.commonGroup = true;
    states.saveDetails = listHasRows;
    if (record.IsFree() || !record.cardPresent || !record.tokenSupported) {
        return states;
    }

    // Not initialized and initialized by another application look the same:
    // the only way forward is to initialize the token here.
    states.initialize = true;
    if (!token.initialized || !token.ours) {
        return states;
    }
    states.reinitializeLabel = true;
    states.login = true;
    states.changeSOPIN = true;
    if (record.loggedIn) {
        states.logoutLabel = true;
        states.changeUserPIN = true;
        states.renameToken = true;
        states.certificateManager = true;
    } else {
        states.unlockUserPIN = true;
    }
    return states;
}
