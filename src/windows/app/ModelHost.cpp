// The host's window is top-level and never shown: a message-only window would do for the model,
// but the session's is found by another process with FindWindowW.
#include "windows/app/ModelHost.h"

#include "model/SystemSeams.h"
#include "platform/browsers/BrowserOffer_win.h"
#include "platform/hosts/HostsPath.h"
#include "platform/hosts/HostsService_win.h"
#include "platform/system/Elevation_win.h"
#include "platform/system/WideText_win.h"
#include "windows/app/FolderWatch.h"
#include "windows/app/UiThread.h"
#include "windows/app/WindowObject.h"
#include "windows/controls/MessageBox.h"

namespace {

constexpr UINT kHostsFolderChanged = WM_APP + 3;
constexpr UINT_PTR kModelTicks = 1;
constexpr UINT_PTR kHostsSettle = 2;

const wchar_t kProduct[] = L"Vantrel";

}  // namespace

PressPrompts PromptsOver(std::function<HWND()> owner) {
    PressPrompts prompts;
    prompts.tell = [owner](const std::string& text) {
        const HWND window = owner();
        if (text != kServiceMissingText) {
            ShowMessage(window, Utf8ToWide(text), kProduct, MB_OK | MB_ICONWARNING);
            return;
        }
        // Never a write of its own in the service's place: the installation is repaired, with
        // one administrator's step, and the user presses again.
        const std::string question = text + "\n\n" + kServiceRepairQuestion;
        if (ShowMessage(window, Utf8ToWide(question), kProduct, MB_YESNO | MB_ICONWARNING) ==
            IDYES) {
            const std::optional<DWORD> code = RunElevated(window, L"-repair-service");
            // Refused permission is the user's own answer; a repair that ran and failed is told.
            if (code && *code != 0)
                ShowMessage(window, Utf8ToWide(kServiceRepairFailedText), kProduct,
                            MB_OK | MB_ICONWARNING);
        }
    };
    prompts.offerToClose = [owner](const std::function<void(const std::string&)>& waiting) {
        return OfferToCloseBrowserWindows(
            owner(), waiting, [](HWND window, const std::string& question) {
                return ShowMessage(window, Utf8ToWide(question), kProduct,
                                   MB_YESNO | MB_ICONQUESTION) == IDYES;
            });
    };
    return prompts;
}

CModelHost::CModelHost(const wchar_t* title) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kModelHostClass;
    ::RegisterClassExW(&windowClass);  // fails harmlessly for the second host of a process
    m_hWnd = ::CreateWindowExW(0, kModelHostClass, title, WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                               nullptr, windowClass.hInstance, this);

    MainSeams seams = SystemSeams();
    seams.runOffThread = [window = m_hWnd](OffThreadJob job) {
        RunOffUiThread(window, std::move(job));
    };
    seams.wantTicks = [this](bool on) {
        on ? ::SetTimer(m_hWnd, kModelTicks, 1000, nullptr) : ::KillTimer(m_hWnd, kModelTicks);
    };
    seams.notify = [this](const Notice& notice) {
        if (m_notify) m_notify(notice);
    };
    seams.quietPrompts = PromptsOver([this] { return m_promptOwner ? m_promptOwner() : nullptr; });
    m_model = std::make_unique<MainModel>(std::move(seams));
}

CModelHost::~CModelHost() {
    m_watch.reset();
    m_model.reset();
    if (m_hWnd) ::DestroyWindow(m_hWnd);
}

PressPrompts CModelHost::Prompts() {
    return PromptsOver([this] { return m_promptOwner ? m_promptOwner() : nullptr; });
}

void CModelHost::Start() {
    if (m_started) return;
    m_started = true;
    // A timed Show whose time passed while no Vantrel ran ends now.
    m_model->Start();
    Watch();
}

void CModelHost::PauseWatch() {
    m_watchPaused = true;
    m_watch.reset();
    if (m_hWnd) ::KillTimer(m_hWnd, kHostsSettle);
}

void CModelHost::ResumeWatch() {
    m_watchPaused = false;
    Watch();
}

void CModelHost::Watch() {
    if (!m_started || m_watchPaused || m_watch || !m_hWnd) return;
    const std::string hosts = ConfiguredHostsPath();
    m_watch = std::make_unique<CFolderWatch>(Utf8ToWide(hosts.substr(0, hosts.find_last_of("\\/"))),
                                             m_hWnd, kHostsFolderChanged);
}

LRESULT CALLBACK CModelHost::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* host = WindowObject<CModelHost>(window, message, lParam);
    if (host && host->m_hWnd == window && host->m_model)
        return host->OnMessage(message, wParam, lParam);
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CModelHost::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kRunOnUiThread:
            RunPostedResult(lParam);
            return 0;
        case kHostsFolderChanged:
            if (!m_watchPaused) ::SetTimer(m_hWnd, kHostsSettle, 200, nullptr);
            return 0;
        case WM_TIMER:
            if (wParam == kModelTicks) {
                m_model->Tick();
                return 0;
            }
            if (wParam == kHostsSettle) {
                ::KillTimer(m_hWnd, kHostsSettle);
                m_model->FileChanged();
                return 0;
            }
            break;
        default:
            break;
    }
    LRESULT answer = 0;
    if (m_handler && m_handler(message, wParam, lParam, answer)) return answer;
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}
