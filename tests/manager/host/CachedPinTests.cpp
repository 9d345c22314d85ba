#include "manager/host/CachedPin.h"
#include "manager/host/SlotRecord.h"

#include <gtest/gtest.h>

namespace {

TEST(CachedPin, KeepsThePinForTheNextCommandAndForgetsItOnClear)
{
    CachedPin pin;
    EXPECT_TRUE(pin.empty());
    pin.Keep(wxS("7392 0518\u00e9"));
    EXPECT_FALSE(pin.empty());
    EXPECT_EQ(pin.Reveal(), wxS("7392 0518\u00e9"));
    pin.Clear();
    EXPECT_TRUE(pin.empty());
    EXPECT_EQ(pin.Reveal(), wxString());
}

TEST(CachedPin, TravelsWithACopiedSlotRecord)
{
    // Re-enumeration copies records; the copy must still unlock the token.
    SlotRecord record;
    record.cachedPIN.Keep(wxS("11223344"));
    SlotRecord copy = record;
    record.cachedPIN.Clear();
    EXPECT_EQ(copy.cachedPIN.Reveal(), wxS("11223344"));
}

} // namespace
