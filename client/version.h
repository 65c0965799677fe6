// The client's version and edition, as servers and the banner see them.
#pragma once

inline constexpr const char* kClientVersion = "3.24";
// Version number sent to servers and stored with the queue: 3.24 as 324.
inline constexpr unsigned kClientVersionNumber = 324;
// Edition code of this client; 5 marks the partner edition.
inline constexpr unsigned kEditionCode = 2;
