#pragma once

// The string identifiers the program fetches. They are the contract with the language libraries.
namespace StringIds {
constexpr int ErrorHead = 15; // "(error):"
} // namespace StringIds
