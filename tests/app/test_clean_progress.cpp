// The clean button while a clean runs: "Cleaning..." first, then the share done, up to 100 %;
// and the warning about a limit that is not understood reaches the log once.

#include "app/PanelFixture.h"

#include "logging/DDAbstractLogger.h"
#include "logging/DDLog.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <mutex>

namespace {

// Keeps every message text it is given.
class RecordingLogger : public DDAbstractLogger {
public:
    void logMessage(const DDLogMessagePtr& message) override {
        std::lock_guard guard(mutex_);
        lines_.emplace_back(message->logFlag(), *message->logMsg());
    }
    std::vector<std::pair<std::int32_t, std::string>> lines() {
        std::lock_guard guard(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<std::int32_t, std::string>> lines_;
};

} // namespace

class CleanProgressTest : public QObject {
    Q_OBJECT

private slots:
    void buttonShowsTheShareDoneUpToOneHundred() {
        TempDir dir;
        // 4000 kB free + 3000 kB inactive in 1 MiB chunks: seven chunks a pass.
        const std::string meminfo = dir.write("meminfo", meminfoText(4000));
        auto memory = std::make_shared<MCMemoryController>(make_host_port(meminfo, {}, 4096),
                                                           std::make_shared<MappedBlockAllocator>(),
                                                           std::nullopt, 1 << 20);
        auto panel = MCContentViewController::initWithNibName("MCContentViewController", memory);
        QVERIFY(panel);
        RecordingNotificationCenter notifications;
        panel->setNotificationCenter(&notifications);
        panel->view();
        QPushButton* button = panel->cleanButton();
        QVERIFY(button);

        struct Shown {
            int percent;
            QString title;
            bool enabled;
        };
        std::vector<Shown> shown;
        connect(panel.get(), &MCContentViewController::cleanProgressShown, this, [&](int percent) {
            shown.push_back({percent, button->text(), button->isEnabled()});
        });
        QSignalSpy done(panel.get(), &MCContentViewController::cleanFinished);

        panel->cleanMemoryButtonClicked();
        QCOMPARE(button->text(), QStringLiteral("Cleaning...")); // before any progress
        QVERIFY(done.wait(10000));

        QVERIFY(!shown.empty());
        QCOMPARE(shown.back().percent, 100);
        const QRegularExpression title(QStringLiteral("^Cleaning\\.\\.\\. (\\d+) %$"));
        int previous = -1;
        for (const Shown& s : shown) {
            const auto match = title.match(s.title);
            QVERIFY2(match.hasMatch(), qPrintable(s.title));
            QCOMPARE(match.captured(1).toInt(), s.percent);
            QVERIFY(s.percent > previous);
            QVERIFY(!s.enabled);
            previous = s.percent;
        }
        QCOMPARE(button->text(), QStringLiteral("Clean Memory"));
        QVERIFY(button->isEnabled());
        QCOMPARE(notifications.delivered.size(), std::size_t{1});
    }

    void unclearLimitIsLoggedOnceAsAWarning() {
        auto logger = std::make_shared<RecordingLogger>();
        DDLog::addLogger(logger);
        ::setenv(MCMemoryController::kMaxBytesEnv, "half", 1);
        auto panel = MCContentViewController::initWithNibName("MCContentViewController");
        ::unsetenv(MCMemoryController::kMaxBytesEnv);
        QVERIFY(panel);
        QCOMPARE(panel->memoryController()->passCap(), 0); // still the safe meaning
        DDLog::flushLog();
        DDLog::removeLogger(logger);
        int warnings = 0;
        for (const auto& [flag, text] : logger->lines()) {
            if (text.find(MCMemoryController::kMaxBytesEnv) != std::string::npos) {
                QCOMPARE(flag, LogFlagWarn);
                QVERIFY2(text.find("\"half\"") != std::string::npos, text.c_str());
                ++warnings;
            }
        }
        QCOMPARE(warnings, 1);
    }
};

QTEST_MAIN(CleanProgressTest)
#include "test_clean_progress.moc"
