// Writes a federation export of invented clubs, licences and performances,
// shaped like the files the federation hands to clubs: club.txt,
// licence.txt, liffn.txt and origine.txt, fixed-width, DOS-coded accented
// letters, CRLF line ends. `ondival generate`, the tests and the benchmarks
// import these files, so the data is made to exercise what the import does
// with real exports: clubs the club list does not name, selection records
// pointing back at a swimmer's own club, relay licences to set aside,
// swimmers the licence file does not know, relay teams with empty slots.
//
// Every date lies on or before 30 November 2026 and every swimmer is born
// between 1960 and 2016, so the age at any performance is at least one
// whatever the day the export is imported.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace ondival::samples {

struct SampleExportOptions {
    int clubs = 20;           // lines of club.txt
    int licences = 500;       // lines of licence.txt, selection and relay records included
    int performances = 2000;  // individual lines of liffn.txt
    int relays = 100;         // relay lines of liffn.txt
    std::uint64_t seed = 1;   // the same seed and options give the same bytes
    double faults = 0.0;      // chance, per line, that the line is damaged
    double unknown = 0.2;     // share of individual lines whose swimmer is not in licence.txt
};

// Writes the four files into dir, creating it when it does not exist.
// Returns "" on success, else a one-line UTF-8 message. Refuses, writing
// nothing, when any of the four files is already there: an export is never
// mixed with, or written over, another one.
//
// With faults = 0 every line imports cleanly. With faults > 0 some lines are
// damaged the way real exports get damaged (cut short, a pool of 33 m, an
// impossible date, a stray quote or byte, a club code or stroke code the
// database does not know); the undamaged lines are byte for byte those of
// the clean export of the same seed.
std::string generate_sample_export(const std::filesystem::path& dir, const SampleExportOptions& options);

}  // namespace ondival::samples
