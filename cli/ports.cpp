#include "ports.h"

#include "HidAPI.h"
#include "boards.h"
#include "hidlink.h"
#include "options.h"
#include "output.h"
#include "portresolver.h"

#include <QJsonObject>

int listPorts(Output &output)
{
    const PortResolver resolver;
    const QList<SerialDevice> devices = resolver.presentDevices();
    output.result(QStringLiteral("Serial devices (COMn as orv4120 --port COMn and the window "
                                 "number them):"));
    if (devices.isEmpty())
        output.result(QStringLiteral("  none"));
    for (qsizetype i = 0; i < devices.size(); ++i) {
        const SerialDevice &d = devices.at(i);
        const QString com = i < kComPorts ? QStringLiteral("COM%1").arg(i + 1) : QString();
        const QString problem = accessProblem(d.path);
        output.result(QStringLiteral("  %1 %2 %3 %4 %5")
                          .arg(com, -6)
                          .arg(d.path, -24)
                          .arg(d.description.isEmpty() ? QStringLiteral("-") : d.description, -28)
                          .arg(d.vidPid.isEmpty() ? QStringLiteral("-") : d.vidPid, -10)
                          .arg(problem.isEmpty() ? QStringLiteral("ok") : problem));
        output.event({{QStringLiteral("event"), QStringLiteral("serial")},
            {QStringLiteral("com"), com}, {QStringLiteral("path"), d.path},
            {QStringLiteral("description"), d.description}, {QStringLiteral("vid_pid"), d.vidPid},
            {QStringLiteral("usb"), d.usb}, {QStringLiteral("access"), problem.isEmpty()},
            {QStringLiteral("problem"), problem}});
    }

    output.result(QStringLiteral("USB board (%1:%2, --usb PATH):")
                      .arg(HidLink::kVendorId, 4, 16, QLatin1Char('0'))
                      .arg(HidLink::kProductId, 4, 16, QLatin1Char('0')));
    int boards = 0;
    for (const HidDeviceInfo &d : systemHidApi().enumerate()) {
        if (d.vendorId != HidLink::kVendorId || d.productId != HidLink::kProductId)
            continue;
        ++boards;
        const QString path = QString::fromLocal8Bit(d.path);
        const QString problem = accessProblem(path).isEmpty()
            ? QString()
            : QStringLiteral("no permission: ") + udevRuleAdvice();
        output.result(QStringLiteral("  %1 %2 %3")
                          .arg(path, -24)
                          .arg(d.product.isEmpty() ? QStringLiteral("-") : d.product, -28)
                          .arg(problem.isEmpty() ? QStringLiteral("ok") : problem));
        output.event({{QStringLiteral("event"), QStringLiteral("usb")},
            {QStringLiteral("path"), path}, {QStringLiteral("product"), d.product},
            {QStringLiteral("access"), problem.isEmpty()}, {QStringLiteral("problem"), problem}});
    }
    if (boards == 0)
        output.result(QStringLiteral("  none found (orv4120 --virtual runs without a board)"));
    return ExitDone;
}
