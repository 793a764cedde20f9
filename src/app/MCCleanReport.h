#pragma once

#include <cstdint>
#include <string>

struct MCCleanOutcome;

// The informative text of the notification that ends a clean.
std::string cleanResultText(std::int64_t freedBytes);

// One line on what each pass of a clean did, e.g.
// "clean: pass 1 wrote 512.00 MB of 512.00 MB; pass 2 wrote 0 B of 3.00 GB (no room: MemAvailable);
// ...".
std::string cleanOutcomeText(const MCCleanOutcome& outcome);
