#include "RunHint.h"

#include "GetFilesThr.h"
#include "Messages.h"

#include <utility>

namespace {

// The cause as one line of at most kMaxCauseBytes: control characters (line
// breaks of a server's answer among them) become blanks, and a longer text
// is cut before the UTF-8 sequence that would pass the bound.
std::string OneLine(const std::string& cause) {
    std::string line;
    for (const char c : cause)
        line += static_cast<unsigned char>(c) < 32 || c == 127 ? ' ' : c;
    if (line.size() <= TRunHint::kMaxCauseBytes)
        return line;
    std::size_t cut = TRunHint::kMaxCauseBytes;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
        --cut;
    line.resize(cut);
    return line + "…";
}

} // namespace

TRunHint::TRunHint(std::string logFile) : logFile_(std::move(logFile)) {}

void TRunHint::RunStarted() {
    cause_.clear();
    text_.clear();
}

void TRunHint::Failure(const std::string& cause) {
    if (cause_.empty())
        cause_ = OneLine(cause);
}

void TRunHint::RunEnded(const std::string& status) {
    text_.clear();
    if (status != status::kFailed)
        return;
    if (!cause_.empty())
        text_ = cause_ + "\n";
    text_ += kLogFileLabel;
    text_ += logFile_;
}
