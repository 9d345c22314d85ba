// The window worker: what it posts reaches the GUI thread in order and only
// while its window lives, and waiting for workers waits for the work.
#include "manager/core/WindowWorker.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>
#include <wx/app.h>
#include <wx/frame.h>

namespace {

// Posts "step 1".."step N", then gives N as its outcome; it may first wait
// until the test lets it go on.
class CountingWorker final : public WindowWorkerOf<int> {
public:
    CountingWorker(wxWindow* window, int steps, std::vector<std::string>& calls, std::shared_future<void> go)
        : WindowWorkerOf(
            window, [&calls](int& outcome) { calls.push_back("done " + std::to_string(outcome)); })
        , m_steps(steps)
        , m_calls(calls)
        , m_go(std::move(go))
    {
    }

private:
    int Work() override
    {
        m_go.wait();
        for (int i = 1; i <= m_steps; ++i) {
            Post([&calls = m_calls, i] { calls.push_back("step " + std::to_string(i)); });
        }
        return m_steps;
    }

    int m_steps;
    std::vector<std::string>& m_calls;
    std::shared_future<void> m_go;
};

class WindowWorkerGuiTests : public testing::Test {
protected:
    void SetUp() override { m_frame = new wxFrame(nullptr, wxID_ANY, "worker"); }
    void TearDown() override
    {
        WindowWorker::WaitUntilAllEnded();
        if (m_frame != nullptr) {
            m_frame->Destroy();
        }
        wxTheApp->ProcessPendingEvents();
    }

    void Start(int steps)
    {
        ASSERT_EQ(
            WindowWorker::Start(std::make_unique<CountingWorker>(m_frame, steps, m_calls, m_go.get_future())),
            wxTHREAD_NO_ERROR);
    }

    std::vector<std::string> m_calls;
    std::promise<void> m_go;
    wxFrame* m_frame = nullptr;
};

TEST_F(WindowWorkerGuiTests, PostedCallsRunInOrderWithTheOutcomeLast)
{
    Start(3);
    m_go.set_value();
    WindowWorker::WaitUntilAllEnded();
    EXPECT_TRUE(m_calls.empty()) << "nothing runs off the GUI thread";
    wxTheApp->ProcessPendingEvents();
    EXPECT_EQ(m_calls, (std::vector<std::string> { "step 1", "step 2", "step 3", "done 3" }));
}

TEST_F(WindowWorkerGuiTests, NothingRunsOnceTheWindowIsGone)
{
    Start(2);
    delete m_frame;
    m_frame = nullptr;
    m_go.set_value();
    WindowWorker::WaitUntilAllEnded();
    wxTheApp->ProcessPendingEvents();
    EXPECT_TRUE(m_calls.empty());
}

TEST_F(WindowWorkerGuiTests, WaitingReturnsOnlyOnceTheWorkHasEnded)
{
    Start(1);
    std::future<void> waited = std::async(std::launch::async, [] { WindowWorker::WaitUntilAllEnded(); });
    EXPECT_EQ(waited.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    m_go.set_value();
    EXPECT_EQ(waited.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

} // namespace
