#include "MCCleanReport.h"

#include "MCUtil.h"

std::string cleanResultText(std::int64_t freedBytes) {
    if (freedBytes > 0) {
        return MCUtil::friendlySizeNumber(freedBytes) + " memory is cleaned!";
    }
    return "Enjoy your life!";
}
