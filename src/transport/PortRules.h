#pragma once

#include <string>
#include <string_view>

// The source-port choice that leaves the port to the system. It reads as the
// number 0, so it never equals a destination port.
inline constexpr std::string_view RandomSourcePort = "Random port > 1023";

// The field texts as they stand after validation: numbers in range written
// back as their shortest decimal text, anything else replaced by the default.
std::string NormalisePriorityText(std::string_view text);   // 0..255, else 191
std::string NormalisePortText(std::string_view text);       // 1..65535, else 514
std::string NormaliseSourcePortText(std::string_view text); // 1..65535, else RandomSourcePort

// True when the two port texts read as the same number.
bool PortsClash(std::string_view destinationPort, std::string_view sourcePort);

// The port number a validated text stands for, rounded halves to even;
// 0 for RandomSourcePort.
int PortFromText(std::string_view text);
