// The export files on the source medium: readiness of the drive, presence
// and scratch copies of the four files, the origin line of the trace, and
// the first-line measure that sizes each step's progress bar.
#pragma once

#include <cstdint>
#include <string>

namespace ondival {

std::string chemin_fichier(const std::string& directory, const std::string& name);
bool lecteur_pret(const std::string& directory);
bool verifie_fichier(std::int16_t trace_file, std::string& path, const std::string& scratch);
std::string copie_fichier(const std::string& path, const std::string& directory);
std::string nom_libre(const std::string& path, const std::string& directory);
void lit_origine(std::int16_t trace_file, std::int16_t read_file);
std::int32_t controle_longueur(std::int16_t trace_file, std::int16_t read_file, const std::string& path,
                               std::int16_t required);
double taille_fichier(const std::string& path);
std::int16_t longueur_ligne(std::int16_t read_file, const std::string& path);
// Lines as the import reads them: ended by CRLF, a lone CR or a lone LF, the
// last one counted even without its end.
std::int64_t count_lines(const std::string& path);

}  // namespace ondival
