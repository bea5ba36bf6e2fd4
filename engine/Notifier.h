// The run's notifications on their way to the host. The worker hands each one
// over as a value (the text, the gauge and its value, the revision); this
// unit turns them into calls of the host's TUpdateTarget, in the order they
// were sent, on the host's thread through its dispatcher. It owns what sits
// between the two: the scaling of 64-bit gauges into the host's 32 bits,
// leaving out progress that changes nothing the host shows, and handing
// notifications over in batches. Everything here runs on the worker.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

// The status texts of the run.
namespace status {
inline constexpr const char* kFetchingList = "Скачивание списка обновлений";
inline constexpr const char* kFailed = "Не удалось обновить";
inline constexpr const char* kAllUpdated = "Все файлы были обновлены";
inline constexpr const char* kChecking = "Проверка файлов";
inline constexpr const char* kCheckingFile = "Проверка ";
inline constexpr const char* kDownloading = "Загружается ";
inline constexpr const char* kExtracting = "Извлекается ";
inline constexpr const char* kHostsApplying = "Приминение изминений к хостам";
inline constexpr const char* kHostsChanged = "Файлы хоста изменены";
} // namespace status

// What the run's notifications change: the launcher window, or the headless
// runner. Every method runs where the dispatcher runs it, one at a time, while
// the worker waits; what it raises is raised in the worker.
class TUpdateTarget {
public:
    virtual ~TUpdateTarget() = default;
    virtual void LockCommands() = 0;
    virtual void ShowStatus(const std::string& text) = 0;
    virtual void SetFileGaugeMax(std::int32_t value) = 0;
    virtual void SetTotalGaugeMax(std::int32_t value) = 0;
    virtual void SetFileProgress(std::int32_t value) = 0;
    virtual void SetTotalProgress(std::int32_t value) = 0;
    virtual void StoreRevision(const std::string& revision) = 0;
    virtual void UnlockCommands() = 0;
    // What a transfer is about to try again, and why: for live displays and
    // traces, never for the status line.
    virtual void ShowRetry(const std::string& /*note*/) {}
    // Why the run, or a part of it, failed: the address and what its server
    // answered, the bytes received of those expected, the digest expected and
    // got, the system's error text, or why the update server's tree was
    // refused (a signature that does not hold, an expired or replayed
    // manifest). For logs, traces and standard error, never for the status
    // line, which keeps its fixed texts.
    virtual void ShowCause(const std::string& /*cause*/) {}
    // What the run left out on purpose, without failing: for logs and
    // traces, never for the status line.
    virtual void ShowNote(const std::string& /*note*/) {}
    // Records the revision of a signed manifest that verified, whatever
    // becomes of the run that took it: no signed manifest below it is taken
    // from then on (see GFilesThread::TrustedRevision). The host keeps it
    // apart from the revision StoreRevision records, and never lowers it.
    virtual void StoreTrustedRevision(const std::string& /*revision*/) {}
    // The copies the run is about to fetch and install, their sizes in bytes
    // in the order of their entries: sent once, before the first of them,
    // for displays that count bytes rather than files.
    virtual void ShowPlan(const std::vector<std::int64_t>& /*copySizes*/) {}
};

// Runs one notification on the host's thread and returns when it has run,
// passing back whatever it raised. An empty dispatcher runs it in place.
using TDispatcher = std::function<void(const std::function<void()>&)>;

// The two gauges of the window.
enum class TRunGauge { File = 0, Total = 1 };

class TNotifier {
public:
    struct Settings {
        // Leaves out a progress notification that would not change the whole
        // percentage its gauge shows (the window's gauges redraw only on
        // such a change), or that follows the last one sent for its gauge
        // within kProgressInterval (the window redraws no more often than
        // that), so that per-block progress costs next to nothing. A value
        // left out is sent before any other notification, so the gauges
        // stand as they would have whenever anything else is shown, and at
        // the run's end (Flush). Off: every value is sent.
        bool coalesceProgress = false;
        // Hands the notifications that only show something (status, gauges,
        // retries, causes, notes, the plan) to the dispatcher in batches:
        // each still runs on the host, in order and with the values it was
        // sent with, but they are handed over together at most
        // kBatchInterval after the first of a batch (Due), before the
        // commands are locked or unlocked, before a revision is stored, and
        // on Flush. For a host on another thread, which every hand-over
        // wakes. Off: each notification is handed over by itself.
        bool batch = false;
    };
    static constexpr std::chrono::milliseconds kProgressInterval{50};
    static constexpr std::chrono::milliseconds kBatchInterval{20};

    // A notification that the host refused, raised in place of the host's
    // error. It is no failure of the step that was going on when it was
    // handed over (a file's backup or unpacking, the manifest's unpacking,
    // the self-update, the hosts file), which a batch handed over later
    // would otherwise make it, so no step's own handling takes it (it is no
    // std::exception): it ends the run.
    struct HostRefusal {
        std::exception_ptr error;
    };

    explicit TNotifier(TUpdateTarget& target, TDispatcher dispatcher = {});
    TNotifier(TUpdateTarget& target, TDispatcher dispatcher, Settings settings);
    TNotifier(const TNotifier&) = delete;
    TNotifier& operator=(const TNotifier&) = delete;

    // The notifications, by the names the host knows them by.
    void LockCommands();
    void ShowStatus(const std::string& text);
    // A maximum past 32 bits is scaled down by the smallest power of two
    // that makes it fit, and the gauge's values with it until its next
    // maximum.
    void SetGaugeMax(TRunGauge gauge, std::int64_t max);
    void SetFileProgress(std::int64_t value);
    void SetTotalProgress(std::int64_t value);
    void StoreRevision(std::int32_t revision);
    void UnlockCommands();
    void ShowRetry(const std::string& note);
    void ShowCause(const std::string& cause);
    void ShowNote(const std::string& note);
    void StoreTrustedRevision(std::int32_t revision);
    void ShowPlan(const std::vector<std::int64_t>& copySizes);

    // Hands over what is held back: the progress left out, and the batch.
    void Flush();
    // Hands the batch over when it is due.
    void FlushIfDue();
    // When the batch is due; time_point::max() when nothing waits in it. A
    // worker that waits for something else wakes by then to FlushIfDue.
    std::chrono::steady_clock::time_point Due() const;
    // Forgets what is held back, once the host has refused a notification.
    void Drop();

private:
    // One notification, as the host will run it.
    using Call = std::function<void()>;
    enum class Kind { Command, Shown, Progress };

    void Send(Kind kind, Call call);
    void Hand(Call call);
    void Deliver(const Call& call);
    void Progress(TRunGauge gauge, std::int64_t value);
    // The coalescing of progress notifications: whether this one is left out.
    bool Skip(TRunGauge gauge, std::int64_t value);
    void FlushProgress(TRunGauge gauge);
    Call ProgressCall(TRunGauge gauge, std::int64_t value) const;

    TUpdateTarget& target_;
    TDispatcher dispatcher_;
    Settings settings_;
    // Notifications waiting to be handed over, and since when.
    std::vector<Call> batch_;
    std::chrono::steady_clock::time_point batchSince_{};

    // What is known of each gauge (file, total): the power of two that
    // scales it into 32 bits, and for the coalescing its maximum (-1 until
    // this run set it), the value it shows, and a value left out.
    struct Gauge {
        int shift = 0;
        std::int64_t max = -1;
        std::int64_t shown = -1;
        bool pending = false;
        std::int64_t pendingValue = 0;
        std::chrono::steady_clock::time_point sentAt{};
    };
    Gauge gauges_[2];
};
