// The account the service runs as: LocalSystem, or the service's own
// virtual account, NT SERVICE\pulsewarden-watch, which holds no power of
// its own and is given what watching needs, one grant a place.
#pragma once

#include <cstddef>

inline constexpr char virtualAccount[] = "NT SERVICE\\pulsewarden-watch";

// The virtual account's SID as Windows derives it from the service's name
// (S-1-5-80- and the SHA-1 of the name in capitals, as UTF-16), in text;
// it is known before the service ever runs. False, with why.
bool virtualAccountSid(const char *service, char *text, size_t size, char *why, size_t whySize);

// Grants the service's virtual account read, or read and write (change
// and delete, for a directory what is made in it too), on `path`, beside
// what is granted there already. False, with why.
bool grantVirtualAccount(const char *path, bool write, char *why, size_t size);
