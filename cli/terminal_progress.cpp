#include "cli/terminal_progress.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cmath>

namespace ondival::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
constexpr int kBarCells = 20;
constexpr int kDefaultColumns = 80;
constexpr const char* kEraseLine = "\r\x1b[K";

int terminal_columns(std::FILE* out) {
    winsize size{};
    if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return kDefaultColumns;
}

// Step titles come from the import in UTF-8; they are cut by characters,
// never inside one, so a narrow terminal still shows valid text.
std::string first_characters(const std::string& text, int count) {
    std::size_t end = 0;
    for (int n = 0; end < text.size(); ++n) {
        if (n == count) return text.substr(0, end);
        ++end;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    }
    return text;
}

int characters(const std::string& text) {
    return static_cast<int>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string duration_text(double seconds) {
    const long total = std::lround(seconds);
    const long h = total / 3600, m = total / 60 % 60, s = total % 60;
    char text[32];
    if (h > 0)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", h, m, s);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", m, s);
    return text;
}

}  // namespace

TerminalProgress::TerminalProgress(std::FILE* out) : out_(out) { start_step(Clock::now()); }

TerminalProgress::~TerminalProgress() { Clear(); }

void TerminalProgress::SetStepTitle(const std::string& title_utf8) {
    const Clock::time_point now = Clock::now();
    const bool new_step = title_utf8 != title_;
    title_ = title_utf8;
    start_step(now);
    // A new file is drawn at once, whatever the pace: on a fast machine a
    // whole file can pass within one interval, and the bar would go on
    // naming the file before it. Once per step is still a handful.
    if (new_step)
        draw(now);
    else
        draw_if_due(now);
}

double TerminalProgress::Value() const { return value_; }

void TerminalProgress::SetValue(double value) {
    const Clock::time_point now = Clock::now();
    value_ = value;
    // The import puts the bar back to 0 when a step begins; that is not a
    // line read.
    if (value <= 0)
        start_step(now);
    else
        ++lines_;
    draw_if_due(now);
}

void TerminalProgress::Refresh() { draw_if_due(Clock::now()); }

void TerminalProgress::Clear() {
    if (!shown_) return;
    std::fputs(kEraseLine, out_);
    std::fflush(out_);
    shown_ = false;
}

void TerminalProgress::start_step(Clock::time_point now) {
    lines_ = 0;
    step_start_ = now;
}

void TerminalProgress::draw_if_due(Clock::time_point now) {
    if (!shown_ || now - last_draw_ >= kRedrawInterval) draw(now);
}

void TerminalProgress::draw(Clock::time_point now) {
    last_draw_ = now;
    shown_ = true;

    const double percent = std::clamp(value_, 0.0, 100.0);
    const int filled = static_cast<int>(percent / 100 * kBarCells);
    const double elapsed = std::chrono::duration<double>(now - step_start_).count();

    std::string stats = " [" + std::string(filled, '#') + std::string(kBarCells - filled, '.') + "] ";
    char number[32];
    std::snprintf(number, sizeof number, "%3d%%", static_cast<int>(percent));
    stats += number;
    // Until the first lines are in, a rate and a time left would be guesses
    // from nothing; dashes say so.
    if (lines_ > 0 && elapsed > 0 && percent > 0) {
        std::snprintf(number, sizeof number, "  %ld lines/s", std::lround(lines_ / elapsed));
        stats += number;
        stats += "  " + duration_text(elapsed * (100 - percent) / percent) + " left";
    } else {
        stats += "  - lines/s  -:-- left";
    }

    // One column is left free: writing into the last one makes some
    // terminals wrap, and the next carriage return would then redraw the
    // wrong line. The title gives way first, the figures only on a terminal
    // too narrow for them.
    const int columns = terminal_columns(out_) - 1;
    const int room = std::max(0, columns - characters(stats));
    const std::string line = kEraseLine + first_characters(first_characters(title_, room) + stats, columns);
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
}

}  // namespace ondival::cli
