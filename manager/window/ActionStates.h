// Which of the main window's commands are available, decided from the slot
// record and the token the status step showed last.
#pragma once

#include "manager/host/SlotRecord.h"
#include "manager/host/TokenStatus.h"

struct ActionStates {
    bool slotTree = false;
    // "Exit", "Settings", "Language", "Help Topics" and "About...".
    bool commonGroup = false;
    bool saveDetails = false;
    bool initialize = false;
    bool login = false;
    bool changeUserPIN = false;
    bool renameToken = false;
    bool changeSOPIN = false;
    bool unlockUserPIN = false;
    bool certificateManager = false;
    // The Initialize button reads "Re-initialize Token" (else "Initialize Token").
    bool reinitializeLabel = false;
    // The Login button reads "Logout" (else "Login").
    bool logoutLabel = false;
};

ActionStates DecideActions(
    bool enable, const SlotRecord& record, const DisplayedToken& token, bool listHasRows);
