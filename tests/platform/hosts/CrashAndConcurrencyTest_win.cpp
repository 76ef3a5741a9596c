// Writers killed with TerminateProcess at random moments and writers running at once: the hosts
// file is always whole (old bytes or new bytes), nothing anyone wrote is lost, and there is never
// a second block.
#include <cstdint>
#include <cstdio>
#include <random>

#include "core/HostsText.h"
#include "platform/HostsFileIO.h"
#include "support/WinTestSupport.h"

namespace {

std::string Toggler() {
    return Quoted(ProgramDir() + "\\hosts_toggler.exe");
}

DWORD Finish(const PROCESS_INFORMATION& process) {
    DWORD code = 259;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    return code;
}

using Crash = HostsDirTest;

TEST_F(Crash, TogglerKilledAtRandomMomentsNeverLeavesATornFile) {
    std::string text;
    text.reserve(21 << 20);
    for (int i = 0; text.size() < (20u << 20); ++i) {
        text += "10." + std::to_string(i % 250) + ".0.1 host" + std::to_string(i) + ".lan\n";
    }
    std::string added = text;
    ASSERT_TRUE(AppendBlock(added, {"0.0.0.0 a.example", "0.0.0.0 b.example", ""}));
    const std::string old = CrLf(text);
    added = CrLf(added);
    SetHosts(old);
    text.clear();

    // One add and one remove, as the child does them over and over: the kills are spread
    // over such a cycle, counted from the moment the child's loop starts.
    const ULONGLONG start = ::GetTickCount64();
    ASSERT_TRUE(AddBlockAt(m_hosts, {"0.0.0.0 a.example", "0.0.0.0 b.example", ""}));
    ASSERT_EQ(Hosts(), added);
    ASSERT_TRUE(RemoveBlockAt(m_hosts));
    ASSERT_EQ(Hosts(), old);
    const DWORD cycle = static_cast<DWORD>(::GetTickCount64() - start);

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE ready = ::CreateEventW(&inherit, TRUE, FALSE, nullptr);
    ASSERT_NE(ready, nullptr);
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<DWORD> delay(0, cycle);
    constexpr int kKills = 100;
    int torn = 0;
    int seenNew = 0;
    int midWrite = 0;  // kills that left a temporary file behind
    for (int kill = 0; kill < kKills; ++kill) {
        ::ResetEvent(ready);
        const PROCESS_INFORMATION child =
            StartChild(Toggler() + " loop \"" + m_hosts + "\" " +
                           std::to_string(reinterpret_cast<std::uintptr_t>(ready)),
                       nullptr, true);
        ASSERT_NE(child.hProcess, nullptr);
        const HANDLE started[] = {ready, child.hProcess};
        ASSERT_EQ(::WaitForMultipleObjects(2, started, FALSE, INFINITE), WAIT_OBJECT_0);
        ::Sleep(delay(random));
        ::TerminateProcess(child.hProcess, 9);
        Finish(child);

        // The file is whole at once; the next child starts from whichever content it holds
        // and removes what this one left behind.
        const std::string now = Hosts();
        const bool whole = now == old || now == added;
        torn += !whole;
        EXPECT_TRUE(whole) << "torn file after kill " << kill << ": " << now.size() << " bytes";
        seenNew += now == added;
        midWrite += !TempFiles(m_dir).empty();
    }
    ::CloseHandle(ready);
    std::printf(
        "killed %d times over a %lu ms cycle: %d torn, %d with the block in place, "
        "%d mid-write\n",
        kKills, static_cast<unsigned long>(cycle), torn, seenNew, midWrite);
    EXPECT_EQ(torn, 0);
    // The next operation cleans up after the last kill.
    ASSERT_TRUE(RemoveBlockAt(m_hosts));
    EXPECT_EQ(Hosts(), old);
    EXPECT_EQ(TempFiles(m_dir), std::vector<std::string>());
}

using Concurrency = HostsDirTest;

TEST_F(Concurrency, TwoTogglersAndAnAppenderLoseNothing) {
    std::string base;
    for (int i = 0; i < 200; ++i) base += "10.1.0.1 base" + std::to_string(i) + "\r\n";
    SetHosts(base);
    SetSettings("0.0.0.0 pagead2.googlesyndication.com\r\n0.0.0.0 tpc.googlesyndication.com\r\n");
    constexpr int kAppends = 40;

    std::vector<PROCESS_INFORMATION> children;
    for (int toggler = 0; toggler < 2; ++toggler)
        children.push_back(StartChild(Toggler() + " toggle 40"));
    children.push_back(
        StartChild(Toggler() + " append \"" + m_hosts + "\" " + std::to_string(kAppends)));
    for (const PROCESS_INFORMATION& child : children) {
        ASSERT_NE(child.hProcess, nullptr);
        EXPECT_EQ(Finish(child), 0u) << "child " << child.dwProcessId;
    }

    const std::string now = Hosts();
    EXPECT_EQ(now.substr(0, base.size()), base);
    for (int i = 0; i < kAppends; ++i) {
        EXPECT_EQ(Count(now, "10.2.0.1 appended" + std::to_string(i) + "\r\n"), 1u) << i;
    }
    EXPECT_LE(Count(now, "# Begin Vantrel"), 1u);
    std::string text = now;
    DropCarriageReturns(text);
    EXPECT_NE(ClassifyBlock(text), BlockState::DamagedBlock);
    EXPECT_EQ(CrLf(text), now);  // every line end CR LF
    EXPECT_EQ(TempFiles(m_dir), std::vector<std::string>());
}

}  // namespace
