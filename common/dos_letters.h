// The federation writes accented letters in the DOS code page while the
// import reads its files as Windows-1252. accents_dos puts the fifteen small
// accented letters of French names back in place, one byte for one byte, so
// every fixed-width column stays where the record layout says.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "common/keyed_list.h"

namespace ondival {

// DOS byte -> the Windows-1252 letter it stands for. Other bytes, the DOS
// capitals among them, are left as they are read.
inline constexpr std::pair<unsigned char, unsigned char> kDosLetters[] = {
    {0x81, 0xFC},  // ü
    {0x82, 0xE9},  // é
    {0x83, 0xE2},  // â
    {0x84, 0xE4},  // ä
    {0x85, 0xE0},  // à
    {0x87, 0xE7},  // ç
    {0x88, 0xEA},  // ê
    {0x89, 0xEB},  // ë
    {0x8A, 0xE8},  // è
    {0x8B, 0xEF},  // ï
    {0x8C, 0xEE},  // î
    {0x93, 0xF4},  // ô
    {0x94, 0xF6},  // ö
    {0x96, 0xFB},  // û
    {0x97, 0xF9},  // ù
};

std::string accents_dos(std::string_view text);
void accents_dos_in_place(std::string& text);

// The accented-letter map: item j of colMajuscules replaces item j of
// colAccents when a family name is put in plain capitals.
void charge_accents(TextList& colAccents, TextList& colMajuscules);

// Family-name normalisation of licence records: small letters, the map's
// accented letters to their plain capitals, then capitals.
std::string majuscules_sans_accents(std::string_view name, const TextList& colAccents, const TextList& colMajuscules);

}  // namespace ondival
