// Every federal club code the import meets goes through sauve_club, which
// makes sure the club exists and says what it found or did.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/statement.h"

namespace ondival {

// Status codes of sauve_club.
inline constexpr std::int16_t kClubFailure = -1;  // unexpected error
inline constexpr std::int16_t kClubNotSaved = 0;  // invalid code or failed insert
inline constexpr std::int16_t kClubCreated = 1;
inline constexpr std::int16_t kClubRelabelled = 2;  // stored label was "Null"
inline constexpr std::int16_t kClubKnown = 3;
inline constexpr std::int16_t kClubOtherLabel = 4;
inline constexpr std::int16_t kClubHandled = 5;  // already settled in this import

inline constexpr const char* kLabelNull = "Null";

bool est_selection(const std::string& code);
// The read that finds a club by its federal code (sauve_club's, and the
// read-ahead's of a file import).
platform::Sql requete_club(const std::string& code);
// The reads sauve_club will make for a club not settled yet in this import:
// its lookup and, should it be unknown, its code's checks.
void lectures_club(const std::string& code, std::vector<platform::Sql>& reads);
std::int16_t sauve_club(const std::string& code, const std::string& label, std::string& message);
bool insere_club(const std::string& code, const std::string& label, std::string& message);

// A club that a licence or performance line named and that the import has
// just created under "Null": counted, announced by a warning at that line,
// and remembered as settled so that later lines do not create it again.
void signale_club_cree(std::int16_t trace_file, std::int32_t line, const std::string& code, std::int32_t& clubs_added);

}  // namespace ondival
