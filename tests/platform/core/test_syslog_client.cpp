// Sending, verbatim text and reconnection are checked against a real daemon in
// tests/logging/test_asllogger_rsyslog.cpp.
#include "platform/core/syslog_client.h"

#include <gtest/gtest.h>

TEST(SyslogClient, EntryLayoutCarriesFacilityPriorityStampAndIdent) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(syslog_client::formatEntry(8, 2, "app", 1394028429, "boom"),
              "<10>Mar  5 14:07:09 app: boom");
    EXPECT_EQ(syslog_client::formatEntry(16 << 3, 7 + 8, "app", 1700000000, ""), // priority masked
              "<135>Nov 14 22:13:20 app: ");
    EXPECT_EQ(syslog_client::Connection("", 8, "/nonexistent").ident(), "test_syslog_client");
}
