#pragma once

#include "src/Network/Socket/NodeAddress.h"

#include <cstdint>
#include <string>

// Text forms of IPv6 addresses and of the endpoint values of the settings
// file ("address,port"). The driver reads the same texts.

// Eight lower-case hex groups joined by ":"; the first run (from the left)
// of two or more zero groups becomes "::".
std::string formatAddress(const uint8_t address[16]);
// formatAddress, ",", the port in decimal.
std::string formatEndpoint(const NodeAddress &endpoint);

// The value of one hex digit (either case), or -1 for any other character.
int hexDigitValue(char c);

// Strict standard IPv6 text form; on failure address is unchanged.
bool parseAddress(const std::string &text, uint8_t address[16]);
// "address,port": split at the first ","; the port is decimal digits only
// (empty gives 0), taken modulo 65536. Sets address and port of endpoint;
// on failure nothing is changed.
bool parseEndpoint(const std::string &text, NodeAddress &endpoint);
