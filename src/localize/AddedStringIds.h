#pragma once

// Texts added after the original string table, under identifiers above every one it held (the highest was
// 436), so that no language library made for the original reads a foreign meaning into them. Each has its
// English text in strings.rc and a translation in every library of languages/.
namespace StringIds {

constexpr int FirstAdded = 437;

constexpr int Stop = 437; // "Stop": the deletion page's button during a run

} // namespace StringIds
