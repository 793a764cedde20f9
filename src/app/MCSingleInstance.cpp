#include "app/MCSingleInstance.h"

#include "platform/core/session_bus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdlib>

#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kShowRequest = "show";
constexpr const char* kShownAnswer = "ok";
// A client that has not sent its one line by then is dropped.
constexpr int kClientTimeoutMs = 2000;
constexpr std::size_t kMaxRequest = 256;
// org.freedesktop.DBus.RequestName: fail at once rather than wait in line for the name.
constexpr uint kDoNotQueue = 4;
constexpr uint kPrimaryOwner = 1;
constexpr uint kExists = 3;
constexpr uint kAlreadyOwner = 4;

std::string within() {
    return " within " + std::to_string(MCSingleInstance::kAnswerTimeout.count() / 1000) + " s";
}

int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 1;
}

// One connection of a later start: reads its request line, answers it once, and closes.
class Client : public QObject {
public:
    Client(int fd, std::function<void()> show, QObject* parent)
        : QObject(parent), fd_(fd), show_(std::move(show)),
          notifier_(new QSocketNotifier(fd, QSocketNotifier::Read, this)) {
        connect(notifier_, &QSocketNotifier::activated, this, [this] { read(); });
        QTimer::singleShot(kClientTimeoutMs, this, [this] { finish(); });
    }
    ~Client() override { closeSocket(); }

private:
    void read() {
        char chunk[128];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        }
        if (n <= 0) {
            finish();
            return;
        }
        received_.append(chunk, static_cast<std::size_t>(n));
        const std::size_t end = received_.find('\n');
        if (end == std::string::npos) {
            if (received_.size() > kMaxRequest) {
                finish();
            }
            return;
        }
        const std::string request = received_.substr(0, end);
        if (request != kShowRequest) {
            reply("unknown request");
        } else if (!platform::instance_socket::clientHasGone(fd_)) {
            // A start that gave up waiting (this copy was stopped, say) gets no late popover.
            show_();
            reply(kShownAnswer);
        }
        finish();
    }
    void reply(const std::string& line) {
        const std::string text = line + "\n";
        [[maybe_unused]] const ssize_t sent = ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
    }
    void finish() {
        closeSocket();
        deleteLater();
    }
    void closeSocket() {
        if (fd_ >= 0) {
            notifier_->setEnabled(false);
            ::close(fd_);
            fd_ = -1;
        }
    }

    int fd_;
    std::function<void()> show_;
    QSocketNotifier* notifier_;
    std::string received_;
};

} // namespace

MCSingleInstance::MCSingleInstance(platform::RuntimeFolder folder, bool useBus, QObject* parent)
    : QObject(parent), folder_(std::move(folder)), useBus_(useBus) {}

MCSingleInstance::MCSingleInstance()
    : MCSingleInstance(platform::privateRuntimeFolder(std::getenv("XDG_RUNTIME_DIR"), "brimwell"),
                       platform::SessionBus::status().usable) {}

MCSingleInstance::~MCSingleInstance() {
    if (listenFd_ >= 0) {
        delete listenNotifier_;
        ::close(listenFd_);
        // Still ours: the lock is released only after this.
        ::unlink(platform::instance_socket::pathIn(folder_.path).c_str());
    }
}

MCSingleInstance::Role MCSingleInstance::claim() {
    const auto deadline = Clock::now() + kAnswerTimeout;
    if (folder_.path.empty()) {
        warnings_.push_back("No private folder for the single-instance lock (" + folder_.problem +
                            "): " +
                            (useBus_ ? "only the session bus keeps a second copy from starting"
                                     : "nothing keeps a second copy from starting"));
        return becomeFirst();
    }
    lock_ = platform::InstanceLock::acquire(folder_.path);
    switch (lock_->state()) {
    case platform::InstanceLock::State::Acquired:
        return becomeFirst();
    case platform::InstanceLock::State::Unavailable:
        warnings_.push_back("The single-instance lock cannot be used (" + lock_->problem() + "): " +
                            (useBus_ ? "only the session bus keeps a second copy from starting"
                                     : "nothing keeps a second copy from starting"));
        lock_.reset();
        return becomeFirst();
    case platform::InstanceLock::State::HeldByOther:
        break;
    }
    // Another copy holds the lock. On a bus it owns the name too, unless it runs without the
    // bus or is still starting: then its socket answers.
    if (useBus_ && askOverBus(deadline) == true) {
        return Role::AlreadyRunning;
    }
    const auto reply = platform::instance_socket::ask(
        platform::instance_socket::pathIn(folder_.path), *lock_, kShowRequest, deadline);
    switch (reply.outcome) {
    case platform::instance_socket::Outcome::Answered:
        if (reply.answer == kShownAnswer) {
            return Role::AlreadyRunning;
        }
        return notResponding("answers \"" + reply.answer.substr(0, 80) + "\" when asked to show");
    case platform::instance_socket::Outcome::LockAcquired:
        return becomeFirst(); // the other copy ended meanwhile
    case platform::instance_socket::Outcome::NoListener:
        return notResponding("cannot be reached" + within());
    case platform::instance_socket::Outcome::NoAnswer:
        break;
    }
    return notResponding("does not answer" + within());
}

MCSingleInstance::Role MCSingleInstance::notResponding(const std::string& why) {
    const auto pid = lock_ ? lock_->holder() : std::nullopt;
    problem_ = "Brimwell is already running" +
               (pid ? " (process " + std::to_string(*pid) + ")" : std::string()) + " but " + why +
               "; not starting a second copy";
    return Role::NotResponding;
}

MCSingleInstance::Role MCSingleInstance::becomeFirst() {
    listen();
    if (!useBus_) {
        return Role::First;
    }
    switch (requestBusName()) {
    case BusName::Owned:
    case BusName::Unavailable:
        return Role::First;
    case BusName::OwnedByOther:
        break;
    }
    // A copy that keeps its lock elsewhere (another run-time folder) but shares this bus.
    const auto deadline = Clock::now() + kAnswerTimeout;
    if (askOverBus(deadline) == true) {
        return Role::AlreadyRunning;
    }
    return notResponding("does not answer on the session bus" + within());
}

void MCSingleInstance::listen() {
    if (!lock_ || lock_->state() != platform::InstanceLock::State::Acquired) {
        return;
    }
    std::string problem;
    listenFd_ = platform::instance_socket::listenAt(platform::instance_socket::pathIn(folder_.path),
                                                    problem);
    if (listenFd_ < 0) {
        warnings_.push_back("A later start can reach this one only over the session bus: " +
                            problem);
        return;
    }
    listenNotifier_ = new QSocketNotifier(listenFd_, QSocketNotifier::Read, this);
    connect(listenNotifier_, &QSocketNotifier::activated, this, [this] { acceptClients(); });
}

void MCSingleInstance::acceptClients() {
    for (int fd; (fd = platform::instance_socket::acceptClient(listenFd_)) >= 0;) {
        new Client(
            fd, [this] { ShowPopover(); }, this);
    }
}

MCSingleInstance::BusName MCSingleInstance::requestBusName() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QString::fromLatin1(kServiceName);
    const QString path = QString::fromLatin1(kObjectPath);
    // Ready before the name is: whoever sees the name may call at once.
    if (!bus.isConnected() ||
        !bus.registerObject(path, this, QDBusConnection::ExportScriptableSlots)) {
        warnings_.push_back("The session bus refused this copy: " +
                            bus.lastError().message().toStdString());
        return BusName::Unavailable;
    }
    auto call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    call << service << kDoNotQueue;
    const QDBusMessage reply =
        bus.call(call, QDBus::Block, static_cast<int>(kBusCallTimeout.count()));
    const uint answer = reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1
                            ? reply.arguments().constFirst().toUInt()
                            : 0;
    if (answer == kPrimaryOwner || answer == kAlreadyOwner) {
        return BusName::Owned;
    }
    bus.unregisterObject(path);
    if (answer == kExists) {
        return BusName::OwnedByOther;
    }
    warnings_.push_back("The session bus did not grant the name " + std::string(kServiceName) +
                        ": " + reply.errorMessage().toStdString());
    return BusName::Unavailable;
}

std::optional<bool> MCSingleInstance::askOverBus(Clock::time_point deadline) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return std::nullopt;
    }
    auto call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kServiceName), QString::fromLatin1(kObjectPath),
        QString::fromLatin1(kServiceName), QStringLiteral("ShowPopover"));
    call.setAutoStartService(false);
    const QDBusMessage reply = bus.call(call, QDBus::Block, millisecondsLeft(deadline));
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return true;
    }
    const QString error = reply.errorName();
    if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return std::nullopt;
    }
    return false;
}

void MCSingleInstance::ShowPopover() {
    if (showHandler_) {
        showHandler_();
    }
}
