// The host's progress form, as the import drives it: a title for the current
// step, a bar from 0 to 100 that is read and written, and a repaint after a
// new step is shown. The command-line host draws it on the terminal, the C
// interface forwards it to callbacks, tests record it.
#pragma once

#include <string>

namespace ondival::platform {

class ProgressForm {
public:
    virtual ~ProgressForm() = default;
    virtual void SetStepTitle(const std::string& title_utf8) = 0;
    virtual double Value() const = 0;
    virtual void SetValue(double value) = 0;
    virtual void Refresh() = 0;
};

}  // namespace ondival::platform
