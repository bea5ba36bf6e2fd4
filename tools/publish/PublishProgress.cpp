#include "PublishProgress.h"

#include "PublishText.h"

#include <utility>

namespace publish {

ProgressPrinter::ProgressPrinter(std::ostream& err, Style style, std::string what,
                                 std::chrono::milliseconds interval)
    : err_(err), style_(style), what_(std::move(what)), interval_(interval), shown_(started_) {}

std::string ProgressPrinter::Figures(const Progress& progress) const {
    std::string text = progress::BinaryBytes(progress.bytesDone) + " of " +
                       progress::BinaryBytes(progress.bytesTotal);
    if (progress.bytesTotal > 0)
        text += " (" + std::to_string(progress.bytesDone * 100 / progress.bytesTotal) + " %)";
    text += ", " + std::to_string(progress.done) + " of " + std::to_string(progress.total) +
            (progress.total == 1 ? " file" : " files");
    if (const double rate = rate_.Rate(); rate > 0)
        text += ", " + progress::BinaryBytes(static_cast<std::uint64_t>(rate)) + "/s";
    const std::uint64_t remaining =
        progress.bytesTotal - std::min(progress.bytesDone, progress.bytesTotal);
    if (const double seconds = rate_.SecondsFor(remaining); seconds >= 0 && remaining > 0)
        text += ", " + progress::Duration(seconds) + " left";
    return text;
}

void ProgressPrinter::Show(const Progress& progress) {
    const Clock::time_point now = Clock::now();
    rate_.Add(now, progress.bytesDone);
    if (style_ == Style::Lines) {
        if (now - shown_ < interval_)
            return;
        shown_ = now;
        err_ << "quenmor-publish: " << what_ << " " << Figures(progress) << std::endl;
        return;
    }
    const bool last = progress.finished && progress.done == progress.total;
    if (!last && standing_ && now - shown_ < std::chrono::milliseconds(100))
        return;
    shown_ = now;
    std::string path = Printable(progress.path);
    if (path.size() > 40) {
        std::size_t cut = path.size() - 37;
        while (cut < path.size() && (static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80)
            ++cut;
        path = "..." + path.substr(cut);
    }
    err_ << "\r\033[K" << Figures(progress) << "  " << path << std::flush;
    standing_ = true;
}

void ProgressPrinter::End() {
    if (standing_)
        err_ << "\r\033[K" << std::flush;
    standing_ = false;
}

} // namespace publish
