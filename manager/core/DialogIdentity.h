// Window IDs and names of the dialogs the poller closes when the slots
// change: it finds an open dialog among the main window's children by both.
#pragma once

#include <array>

namespace DialogIdentity {

enum : int {
    ID_DLG_INITIALIZE_TOKEN = 1,
    ID_DLG_LOGIN = 2,
    ID_DLG_CHANGE_PIN = 3,
    ID_DLG_RENAME_TOKEN = 4,
    ID_DLG_UNLOCK_PIN = 5,
    ID_DLG_CERTIFICATE_MANAGER = 6,
    ID_DLG_DATA_OBJECT_MANAGER = 7,
    ID_DLG_SECRET_KEY_MANAGER = 8,
    ID_DLG_SECRET_KEY_PROPERTIES = 9,
    ID_DLG_MESSAGE_BOX = 10,
};

struct KnownDialog {
    int id;
    const char* name;
};

// In the order the poller closes them.
inline constexpr std::array<KnownDialog, 10> kKnownDialogs = { {
    { ID_DLG_MESSAGE_BOX, "NRVCMU_DLG_MESSAGE_BOX" },
    { ID_DLG_LOGIN, "NRVCMU_DLG_LOGIN" },
    { ID_DLG_INITIALIZE_TOKEN, "NRVCMU_DLG_INITIALIZE_TOKEN" },
    { ID_DLG_CHANGE_PIN, "NRVCMU_DLG_CHANGE_PIN" },
    { ID_DLG_RENAME_TOKEN, "NRVCMU_DLG_RENAME_TOKEN" },
    { ID_DLG_UNLOCK_PIN, "NRVCMU_DLG_UNLOCK_PIN" },
    { ID_DLG_CERTIFICATE_MANAGER, "NRVCMU_DLG_CERTIFICATE_MANAGER" },
    { ID_DLG_DATA_OBJECT_MANAGER, "NRVCMU_DLG_DATA_OBJECT_MANAGER" },
    { ID_DLG_SECRET_KEY_PROPERTIES, "NRVCMU_DLG_SECRET_KEY_PROPERTIES" },
    { ID_DLG_SECRET_KEY_MANAGER, "NRVCMU_DLG_SECRET_KEY_MANAGER" },
} };

// The name that goes with a known ID ("" for any other ID).
constexpr const char* NameOf(int id)
{
    for (const KnownDialog& known : kKnownDialogs) {
        if (known.id == id) {
            return known.name;
        }
    }
    return "";
}

} // namespace DialogIdentity
