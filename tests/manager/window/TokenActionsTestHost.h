// A stand-in for the main window in token command tests: keeps the slot
// table and sessions like the window does, records every status text and
// actions update, and checks that polling is paused and resumed in pairs.
#pragma once

#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/host/TokenActionHost.h"
#include "manager/host/TokenCommandRules.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <vector>
#include <wx/app.h>
#include <wx/frame.h>

class TokenActionsTestHost final : public TokenActionHost {
public:
    TokenActionsTestHost(NRVCMUCryptoki& cryptoki, NRVCMUSettings& settings)
        : m_cryptoki(cryptoki)
        , m_settings(settings)
        , m_frame(new wxFrame(nullptr, wxID_ANY, wxS("Pavix Manager")))
    {
    }

    ~TokenActionsTestHost() override { DestroyWindow(); }

    // Closes the window as the user would, leaving this host alive.
    void DestroyWindow()
    {
        if (m_frame != nullptr) {
            delete m_frame;
            m_frame = nullptr;
        }
    }

    // Fills the slot table from the module, as the poller does.
    void Enumerate()
    {
        CK_ULONG count = 0;
        ASSERT_EQ(m_cryptoki.GetSlotList(CK_FALSE, nullptr, &count), CKR_OK);
        ASSERT_LE(count, kSlotTableSize);
        m_slotIds.fill(0);
        ASSERT_EQ(m_cryptoki.GetSlotList(CK_FALSE, m_slotIds.data(), &count), CKR_OK);
        for (CK_ULONG p = 0; p < count; ++p) {
            CK_BYTE serial[NRV_SERIAL_BUFFER_SIZE] {};
            SlotRecord& record = m_records[p];
            record.slot = p;
            if (m_cryptoki.GetTokenSerial(p, serial) == CKR_OK) {
                record.serialNumber = wxString::FromAscii(reinterpret_cast<const char*>(serial));
            }
            record.cardPresent = !record.serialNumber.empty();
            record.slotDescription = wxString::Format(wxS("Reader %lu"), static_cast<unsigned long>(p));
        }
    }

    wxWindow* GetWindow() override { return m_frame; }
    NRVCMUCryptoki& GetCryptoki() override { return m_cryptoki; }
    NRVCMUSettings& GetSettings() override { return m_settings; }
    int GetSelectedSlot() const override { return m_selected; }
    SlotRecord& GetSlotRecord(int slotIndex) override { return m_records.at(slotIndex); }
    CK_SESSION_HANDLE& GetSlotSession(int slotIndex) override { return m_sessions.at(slotIndex); }
    CK_SLOT_ID GetEnumeratedSlotId(int slotIndex) const override { return m_slotIds.at(slotIndex); }

    CK_RV OpenSlotSession(int slotIndex) override
    {
        ++m_sessionOpens;
        const CK_SLOT_ID slot = m_records.at(slotIndex).slot;
        CK_RV rv = m_cryptoki.OpenSession(slot, &m_sessions.at(slotIndex));
        if (rv == CKR_DEVICE_ERROR) {
            m_cryptoki.CloseAllSessions(m_slotIds.at(slotIndex));
            rv = m_cryptoki.OpenSession(slot, &m_sessions.at(slotIndex));
        }
        return rv;
    }

    bool IsDisplayedTokenInitialized() const override { return m_displayed.valid && m_initialized; }
    CK_ULONG GetDisplayedMaxPinLength() const override { return m_displayed.maxPinLen; }
    CK_ULONG GetDisplayedMinPinLength() const override { return m_displayed.minPinLen; }

    void SetStatus(const wxString& text) override { m_statuses.push_back(text); }

    void UpdateActions(bool enable, const SlotRecord&) override
    {
        // Switching the actions on while the module is held would let a
        // second command start in the middle of this one.
        if (enable) {
            EXPECT_EQ(m_pauseDepth, 0) << "actions enabled while polling is paused";
        }
        m_actionsEnabled = enable;
    }

    void ShowTokenInfo(int slotIndex) override
    {
        EXPECT_GT(m_pauseDepth, 0) << "status step outside a pause";
        ++m_tokenShows;
        CK_TOKEN_INFO info {};
        m_displayed = {};
        if (m_cryptoki.GetTokenInfo(m_records.at(slotIndex).slot, &info) == CKR_OK) {
            m_displayed.valid = true;
            m_displayed.label = TokenCommandRules::FixedFieldText(info.label, sizeof info.label);
            m_displayed.model = TokenCommandRules::FixedFieldText(info.model, sizeof info.model);
            m_displayed.maxPinLen = info.ulMaxPinLen;
            m_displayed.minPinLen = info.ulMinPinLen;
            m_displayed.flags = info.flags;
            m_initialized = (info.flags & CKF_TOKEN_INITIALIZED) != 0;
        }
    }

    // Pauses nest, as the main window's do.
    void PausePolling() override
    {
        ++m_pauseDepth;
        ++m_pauses;
    }

    void ResumePolling() override
    {
        EXPECT_GT(m_pauseDepth, 0) << "polling resumed without a pause";
        m_pauseDepth = std::max(m_pauseDepth - 1, 0);
    }

    // Runs the status step as the selection handler does.
    void Select(int slotIndex)
    {
        m_selected = slotIndex;
        PausePolling();
        ShowTokenInfo(slotIndex);
        ResumePolling();
    }

    struct Displayed {
        bool valid = false;
        wxString label;
        wxString model;
        CK_ULONG maxPinLen = 0;
        CK_ULONG minPinLen = 0;
        CK_FLAGS flags = 0;
    };

    const std::vector<wxString>& Statuses() const { return m_statuses; }
    wxString LastStatus() const { return m_statuses.empty() ? wxString() : m_statuses.back(); }
    bool IsPaused() const { return m_pauseDepth > 0; }
    bool AreActionsEnabled() const { return m_actionsEnabled; }
    int Pauses() const { return m_pauses; }
    int TokenShows() const { return m_tokenShows; }
    int SessionOpens() const { return m_sessionOpens; }
    const Displayed& GetDisplayed() const { return m_displayed; }

private:
    NRVCMUCryptoki& m_cryptoki;
    NRVCMUSettings& m_settings;
    wxFrame* m_frame;
    SlotTable m_records {};
    std::array<CK_SESSION_HANDLE, kSlotTableSize> m_sessions {};
    std::array<CK_SLOT_ID, kSlotTableSize> m_slotIds {};
    int m_selected = 0;
    Displayed m_displayed;
    bool m_initialized = false;
    std::vector<wxString> m_statuses;
    int m_pauseDepth = 0;
    bool m_actionsEnabled = false;
    int m_pauses = 0;
    int m_tokenShows = 0;
    int m_sessionOpens = 0;
};
