#pragma once
// The plain English texts of a clean, for the command line, JSON and the log. The GUI shows
// its own translated texts (MCLocalizedText.h).

#include "memory/MCUtil.h"

#include <cstdint>
#include <string>

struct MCCleanOutcome;

// The informative text of the notification that ends a clean, numbers in `numbers`' form.
std::string cleanResultText(std::int64_t freedBytes, const MCNumberFormat& numbers = {});

// One line on what each pass of a clean did, e.g.
// "clean: pass 1 wrote 512.00 MB of 512.00 MB; pass 2 wrote 0 B of 3.00 GB (no room: MemAvailable);
// ...".
std::string cleanOutcomeText(const MCCleanOutcome& outcome, const MCNumberFormat& numbers = {});
