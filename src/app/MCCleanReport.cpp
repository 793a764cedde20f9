#include "app/MCCleanReport.h"

#include "memory/MCMemoryController.h"
#include "memory/MCUtil.h"

std::string cleanResultText(std::int64_t freedBytes, const MCNumberFormat& numbers) {
    if (freedBytes > 0) {
        return MCUtil::friendlySizeNumber(freedBytes, numbers) + " memory is cleaned!";
    }
    return "Enjoy your life!";
}

std::string cleanOutcomeText(const MCCleanOutcome& outcome, const MCNumberFormat& numbers) {
    std::string text = "clean:";
    for (std::size_t i = 0; i < outcome.passes.size(); ++i) {
        const MCCleanPass& pass = outcome.passes[i];
        text += (i == 0 ? " pass " : "; pass ") + std::to_string(i + 1) + " wrote " +
                MCUtil::friendlySizeNumber(pass.written, numbers) + " of " +
                MCUtil::friendlySizeNumber(pass.size, numbers);
        if (pass.end != MCCleanPass::End::Written || !pass.limitedBy.empty()) {
            text += std::string(" (") + describe(pass.end);
            if (!pass.limitedBy.empty()) {
                text += ", limited by " + pass.limitedBy;
            }
            text += ")";
        }
    }
    return text;
}
