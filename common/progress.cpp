#include "common/progress.h"

#include "common/trace.h"
#include "platform/cp1252.h"
#include "platform/text_file.h"

namespace ondival {

platform::ProgressForm*& formulaire_progression() {
    thread_local platform::ProgressForm* form = nullptr;
    return form;
}

void affiche_etape(std::string_view title, std::string_view message, std::int16_t file) {
    platform::ProgressForm* form = formulaire_progression();
    if (form) form->SetStepTitle(platform::cp1252_to_utf8(title));
    trace(file, "");
    trace(file, message);
    // A step is a natural point for the trace to reach the disk: a host that
    // reads it while the import runs sees where it stands.
    platform::files().Flush(file);
    if (form) {
        form->SetValue(0);
        form->Refresh();
    }
}

void avance_progression(double step) {
    platform::ProgressForm* form = formulaire_progression();
    if (!form) return;
    const double value = form->Value();
    form->SetValue(value > 100 - step ? 100 : value + step);
}

}  // namespace ondival
