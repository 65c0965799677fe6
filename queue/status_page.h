// The local status page MyQuorvel.html: the volunteer's name and team, a
// link to unitinfo.txt, and links to the statistics and project pages.
#pragma once

inline constexpr const char* kStatusPageFile = "MyQuorvel.html";

// Writes MyQuorvel.html for the given user name and team; a missing one is
// shown as "unknown" and leaves its statistics link at the bare page. When
// the file cannot be written, says so at level 3.
void WriteStatusPageFor(const char* username, const char* team);

// The same with the settings username and team of client.cfg.
void WriteStatusPage();
