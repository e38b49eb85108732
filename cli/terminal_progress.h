// The import's progress form, drawn on a terminal as one line that is
// rewritten in place: the step under way, a bar with its share done, the
// lines read per second and the time left.
//
// The import moves the bar once per line read, up to 300,000 times for a
// national export; drawing each of those would cost more than the import
// itself, so the line is redrawn on a timer, a few times a second at most.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/progress_form.h"

namespace ondival::cli {

class TerminalProgress final : public platform::ProgressForm {
public:
    // out must be a terminal (the line is redrawn with a carriage return
    // and erased with an ANSI sequence).
    explicit TerminalProgress(std::FILE* out);
    ~TerminalProgress() override;
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void SetStepTitle(const std::string& title_utf8) override;
    double Value() const override;
    void SetValue(double value) override;
    void Refresh() override;

    // Erases the line, so that whatever is written next starts on a clean
    // one. Drawing resumes if the import moves the bar again.
    void Clear();

private:
    using Clock = std::chrono::steady_clock;

    void start_step(Clock::time_point now);
    void draw_if_due(Clock::time_point now);
    void draw(Clock::time_point now);

    std::FILE* out_;
    std::string title_;
    double value_ = 0;
    // The bar moves once per line of the file being read, so counting its
    // moves since the step began gives the lines read without asking the
    // import for anything more than a progress form offers.
    long lines_ = 0;
    Clock::time_point step_start_;
    Clock::time_point last_draw_;
    bool shown_ = false;  // a line is on the terminal and must be erased
};

}  // namespace ondival::cli
