#include "common/trace.h"

#include "common/report.h"

#include "platform/cp1252.h"
#include "platform/text_file.h"

namespace ondival {

std::string texte_erreur(std::int32_t number, std::string_view description) {
    static const std::string kPrefix = "Erreur n° "_w;
    std::string out = kPrefix;
    out += std::to_string(number);
    out += ": ";
    out += description;
    return out;
}

std::string texte_erreur(const platform::Error& error) { return texte_erreur(error.number, error.description); }

void trace(std::int16_t file, std::string_view text) { platform::files().Print(file, text); }

void trace_ligne(std::int16_t file, std::int32_t line, std::string_view message, std::string_view kind) {
    static const std::string kLigne = " Ligne n° : "_w;
    std::string out(kind);
    out += kLigne;
    out += std::to_string(line);
    out += '.';
    out += kCrLf;
    out += message;
    trace(file, out);
    report_entry(line, kind, message);
}

void trace_erreur(std::int16_t file, std::string_view message, std::int32_t line, const platform::Error* pending) {
    std::string text(message);
    if (pending && pending->pending()) {
        text += kCrLf;
        text += texte_erreur(*pending);
    }
    if (line != 0) {
        trace_ligne(file, line, text, "Erreur");
    } else {
        trace(file, text);
        report_message(text);
    }
}

void trace_pluriel(std::int16_t file, std::int32_t count, std::string_view message) {
    static const std::string kMarker = "<PLURIEL>";
    const std::string suffix = count >= 2 ? "s" : "";
    std::string text(message);
    std::size_t pos = 0;
    while ((pos = text.find(kMarker, pos)) != std::string::npos) {
        text.replace(pos, kMarker.size(), suffix);
        pos += suffix.size();
    }
    trace(file, text);
    report_count(count, text);
}

}  // namespace ondival
