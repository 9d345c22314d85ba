#include "ksp/ReaderSelection.h"

#include "ksp/CSelectCard.h"
#include "platform/pcsc/ReaderList.h"

#include <cstdio>

using namespace vela5::platform;

bool ListReadersForSelection(
    CK_FUNCTION_LIST_PTR module, std::vector<std::u16string>& readers, std::string& failure)
{
    readers.clear();
    char text[64];
    Pcsc::Context context(module);
    const Pcsc::Result established = context.Establish(Pcsc::SCARD_SCOPE_USER);
    if (established != Pcsc::SCARD_S_SUCCESS) {
        std::snprintf(
            text, sizeof text, "SCardEstablishContext Failed: 0x%08X", static_cast<unsigned>(established));
        failure = text;
        return false;
    }
    const Pcsc::Result listed = context.ListReaders(readers);
    if (listed == Pcsc::SCARD_E_NO_READERS_AVAILABLE
        || (listed == Pcsc::SCARD_S_SUCCESS && readers.empty())) {
        failure = "No cards/tokens were detected.";
        return false;
    }
    if (listed != Pcsc::SCARD_S_SUCCESS) {
        std::snprintf(text, sizeof text, "SCardListReaders Failed: 0x%08X", static_cast<unsigned>(listed));
        failure = text;
        return false;
    }
    return true;
}

SECURITY_STATUS SelectReader(
    CK_FUNCTION_LIST_PTR module, const DebugClass& log, std::u16string& reader, std::string& failure)
{
    log.Write("Loading resources");
    std::vector<std::u16string> readers;
    if (!ListReadersForSelection(module, readers, failure)) {
        return NTE_FAIL;
    }
    log.Write("Loading Dialog");
    std::u16string chosen;
    const bool accepted = CSelectCard::Run(
        readers,
        [module] {
            std::vector<std::u16string> fresh;
            std::string ignored;
            ListReadersForSelection(module, fresh, ignored);
            return fresh;
        },
        log, chosen);
    if (!accepted) {
        log.Write("Action was cancelled by the user");
        return SCARD_W_CANCELLED_BY_USER;
    }
    log.Write("Retrieving data");
    reader = chosen.substr(0, 1023);
    log.Write("Data Retrieved");
    return ERROR_SUCCESS;
}
