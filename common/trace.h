// The trace file: the French log the host shows after an import. Every
// write ends with CRLF; located entries name the line of the source file
// that caused them; counted lines carry "<PLURIEL>", resolved by the count.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace ondival {

inline constexpr const char* kCrLf = "\r\n";

// "Erreur n° 3021: description".
std::string texte_erreur(std::int32_t number, std::string_view description);
std::string texte_erreur(const platform::Error& error);

// A plain line (the text may itself hold CRLF).
void trace(std::int16_t file, std::string_view text);

// "<kind> Ligne n° : <line>." CRLF message.
void trace_ligne(std::int16_t file, std::int32_t line, std::string_view message, std::string_view kind);

// The message, followed by the pending error's text when there is one;
// located under the line when it is not 0, plain otherwise.
void trace_erreur(std::int16_t file, std::string_view message, std::int32_t line,
                  const platform::Error* pending = nullptr);

void trace_pluriel(std::int16_t file, std::int32_t count, std::string_view message);

}  // namespace ondival
