#include "boards.h"

#include "codes.h"
#include "deviceaccess.h"
#include "hidlink.h"
#include "mscomm.h"
#include "virtualboards.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A HidApi that shows the link one device only, so HidLink's search picks that one.
class OneDeviceHidApi final : public HidApi
{
public:
    OneDeviceHidApi(HidApi &api, QByteArray path)
        : m_api(api)
        , m_path(std::move(path))
    { }
    QList<HidDeviceInfo> enumerate() override
    {
        QList<HidDeviceInfo> devices = m_api.enumerate();
        devices.removeIf([this](const HidDeviceInfo &d) { return d.path != m_path; });
        return devices;
    }
    HidDevice *open(const QByteArray &path) override { return m_api.open(path); }
    void close(HidDevice *device) override { m_api.close(device); }
    bool attributes(HidDevice *device, quint16 *vendorId, quint16 *productId) override
    {
        return m_api.attributes(device, vendorId, productId);
    }
    bool reportLengths(HidDevice *device, int *inputBytes, int *outputBytes) override
    {
        return m_api.reportLengths(device, inputBytes, outputBytes);
    }
    int write(HidDevice *device, const QByteArray &report) override
    {
        return m_api.write(device, report);
    }
    int read(HidDevice *device, QByteArray *buffer, int maxBytes, int timeoutMs) override
    {
        return m_api.read(device, buffer, maxBytes, timeoutMs);
    }
    QString lastError() const override { return m_api.lastError(); }
    bool lastOpenDenied() const override { return m_api.lastOpenDenied(); }

private:
    HidApi &m_api;
    QByteArray m_path;
};

bool isBoard(const HidDeviceInfo &d)
{
    return d.vendorId == HidLink::kVendorId && d.productId == HidLink::kProductId;
}

// The user's configured groups (from the group database), not only this session's.
bool userListedIn(gid_t group)
{
    const passwd *user = ::getpwuid(::getuid());
    if (!user)
        return false;
    int count = 64;
    QList<gid_t> groups(count);
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(count);
        if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(count);
    return groups.contains(group);
}

}   // namespace

QString accessProblem(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    const int error = deviceAccessError(native);
    if (error == 0)
        return {};
    if (error == ENOENT)
        return QStringLiteral("no such device");
    if (error != EACCES)
        return QString::fromLocal8Bit(std::strerror(error));
    struct stat info = {};
    if (::stat(native.constData(), &info) != 0 || !(info.st_mode & S_IRWXG))
        return QStringLiteral("no permission");
    const group *owner = ::getgrgid(info.st_gid);
    const QString name =
        owner ? QString::fromLocal8Bit(owner->gr_name) : QString::number(info.st_gid);
    if (userListedIn(info.st_gid))
        return QStringLiteral("no permission: you are in the group %1, but not in this login; "
                              "log out and in again")
            .arg(name);
    return QStringLiteral("no permission: join the group %1 (sudo usermod -aG %1 $USER), then "
                          "log out and in again")
        .arg(name);
}

QString udevRuleAdvice()
{
    return QStringLiteral(
        "install the udev rule 70-orv4120.rules (hid/ in the sources; cmake --install puts it in "
        "lib/udev/rules.d) into /etc/udev/rules.d, run sudo udevadm control --reload, and plug "
        "the board in again");
}

OpenedBoard::~OpenedBoard() = default;

BoardOpener::BoardOpener(const CliOptions &options)
    : m_options(options)
{ }

BoardOpener::~BoardOpener() = default;

bool BoardOpener::prepareVirtual(QString *error, int *exitCode)
{
    const bool named =
        std::any_of(m_options.boards.cbegin(), m_options.boards.cend(), [](const BoardSpec &board) {
            return board.kind == BoardSpec::Kind::VirtualSerial
                || board.kind == BoardSpec::Kind::VirtualUsb;
        });
    if (!named)
        return true;
    const VirtualBoardOptions options = virtualBoardOptions(m_options, error);
    if (!error->isEmpty()) {
        *exitCode = ExitBadInput;
        return false;
    }
    m_virtual = loadVirtualBoards(options, error);
    if (!m_virtual) {
        *exitCode = ExitUnavailable;
        return false;
    }
    return true;
}

VirtualBoardOptions virtualBoardOptions(const CliOptions &options, QString *error)
{
    VirtualBoardOptions board;
    // The virtual line runs at the speed the port is set to, so answers come when they would.
    board.baud = options.baud;
    error->clear();
    for (const auto &[option, value] : options.virtualOptions) {
        if (option == u"--virtual-usb-acks")
            *error = setUsbAcks(&board, option, value);
        else if (option == u"--virtual-accept-ms")
            *error = setAcceptDelay(&board, option, value);
        else
            *error = setSpeechScale(&board, option, value);
        if (!error->isEmpty())
            return board;
    }
    // Sound plays only in real time; otherwise the board keeps time silently.
    board.playback = board.speechScale == 1.0;
    return board;
}

std::unique_ptr<OpenedBoard> BoardOpener::open(const BoardSpec &board, QString *error)
{
    switch (board.kind) {
    case BoardSpec::Kind::Serial:
        return openSerial(board.path, error);
    case BoardSpec::Kind::VirtualSerial: {
        if (!m_virtual)
            return nullptr;   // prepareVirtual() said why
        QString why;
        const QString path = m_virtual->serialPath(&why);
        if (path.isEmpty()) {
            *error = QStringLiteral("the virtual board cannot start: ") + why;
            return nullptr;
        }
        auto board = openSerial(path, error);
        if (board) {
            board->name = QStringLiteral("virtual:") + path;
            board->justPoweredUp = true;
        }
        return board;
    }
    case BoardSpec::Kind::VirtualUsb: {
        if (!m_virtual)
            return nullptr;
        auto board = openUsb(m_virtual->usb(), {}, error);
        if (board) {
            board->name = QStringLiteral("virtual:usb");
            board->justPoweredUp = true;
        }
        return board;
    }
    case BoardSpec::Kind::Usb:
        return openUsb(systemHidApi(), QFile::encodeName(board.path), error);
    }
    return nullptr;
}

std::unique_ptr<OpenedBoard> BoardOpener::openSerial(const QString &path, QString *error)
{
    auto board = std::make_unique<OpenedBoard>();
    board->serial = std::make_unique<MSComm>(&m_resolver);
    MSComm &port = *board->serial;
    QString device = path;
    // COMn (n 1-20) is numbered as the window numbers it; only then is the device list read.
    if (const std::optional<int> number = comNumber(path)) {
        device = m_resolver.pathFor(*number);
        if (device.isEmpty()) {
            *error =
                QStringLiteral("COM%1 stands for no device here (see orv4120 ports)").arg(*number);
            return nullptr;
        }
        board->name = QStringLiteral("COM%1=%2").arg(*number).arg(device);
    } else if (path.contains(QRegularExpression(
                   QStringLiteral("^COM\\d+$"), QRegularExpression::CaseInsensitiveOption))) {
        *error = QStringLiteral("%1: COM numbers run from 1 to %2").arg(path).arg(kComPorts);
        return nullptr;
    } else {
        board->name = path;
    }
    if (!port.open(device, m_options.baud)) {
        QString reason;
        switch (port.openError()) {
        case MSComm::OpenError::NoSuchDevice:
            reason = QStringLiteral("no such device");
            break;
        case MSComm::OpenError::InUse:
            reason = QStringLiteral("in use by another program");
            break;
        case MSComm::OpenError::NoPermission:
            reason = accessProblem(device);
            if (reason.isEmpty())
                reason = QStringLiteral("no permission");
            break;
        default:
            reason = port.errorString();
            break;
        }
        *error = QStringLiteral("cannot open %1: %2").arg(device, reason);
        return nullptr;
    }
    board->link = board->serial.get();
    board->rule = AnswerRule::SerialCharacters;
    return board;
}

std::unique_ptr<OpenedBoard> BoardOpener::openUsb(
    HidApi &api, const QByteArray &path, QString *error)
{
    auto board = std::make_unique<OpenedBoard>();
    HidApi *chosen = &api;
    if (!path.isEmpty()) {
        board->picker = std::make_unique<OneDeviceHidApi>(api, path);
        chosen = board->picker.get();
    }
    board->usb = std::make_unique<HidLink>(*chosen);
    if (board->usb->find()) {
        board->name = QStringLiteral("usb:") + QString::fromLocal8Bit(board->usb->devicePath());
        board->link = board->usb.get();
        board->rule = AnswerRule::UsbReports;
        return board;
    }
    // Why not: the device is missing, not the board, or may not be opened.
    QList<HidDeviceInfo> candidates = api.enumerate();
    candidates.removeIf(
        [&path](const HidDeviceInfo &d) { return path.isEmpty() ? !isBoard(d) : d.path != path; });
    const QString where =
        path.isEmpty() ? QStringLiteral("the USB board (0fff:0002)") : QString::fromLocal8Bit(path);
    if (candidates.isEmpty()) {
        *error = path.isEmpty()
            ? QStringLiteral("no USB board (0fff:0002) found (see orv4120 ports)")
            : QStringLiteral("cannot open %1: no such HID device (see orv4120 ports)").arg(where);
        return nullptr;
    }
    const HidDeviceInfo &found = candidates.first();
    if (!isBoard(found)) {
        *error = QStringLiteral("%1 is not the board: %2:%3")
                     .arg(where)
                     .arg(found.vendorId, 4, 16, QLatin1Char('0'))
                     .arg(found.productId, 4, 16, QLatin1Char('0'));
        return nullptr;
    }
    const QString device = QString::fromLocal8Bit(found.path);
    if (!accessProblem(device).isEmpty() && QFileInfo::exists(device)) {
        *error = QStringLiteral("cannot open %1: no permission; %2").arg(device, udevRuleAdvice());
        return nullptr;
    }
    *error = QStringLiteral("cannot open %1: %2").arg(device, api.lastError());
    return nullptr;
}
