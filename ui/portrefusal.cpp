#include "portrefusal.h"

#include "qtgbk.h"

#include <QString>

namespace dielmon {

std::string PortRefusalSecondLine(const PortRefusal& refusal, const std::string& devicePath) {
    QString line;
    switch (refusal.Why) {
    case PortRefusal::Reason::None:
        return {};
    case PortRefusal::Reason::OpenElsewhere: {
        const QString name = QString::fromStdString(ProcessName(refusal.Holder));
        line = QStringLiteral("该串口正被另一个程序（%1进程号%2）使用，请先关闭那个程序。")
                   .arg(name.isEmpty() ? QString() : name + QStringLiteral("，"))
                   .arg(refusal.Holder);
        break;
    }
    case PortRefusal::Reason::LockFile:
        line = QStringLiteral("该串口已被另一个程序（进程号%1）锁定：%2")
                   .arg(refusal.Holder)
                   .arg(QString::fromStdString(PortLockPath(devicePath)));
        break;
    case PortRefusal::Reason::NoPermission: {
        QString group = QString::fromStdString(DeviceGroup(devicePath));
        if (group.isEmpty() || group == QLatin1String("root")) {
            group = QStringLiteral("dialout");
        }
        QString user = QString::fromLocal8Bit(qgetenv("USER"));
        if (user.isEmpty()) {
            user = QStringLiteral("用户名");
        }
        line = QStringLiteral("当前用户没有使用该串口的权限：用户须属于设备所属的组 %1"
                              "（例如 sudo usermod -aG %1 %2，重新登录后生效）。")
                   .arg(group, user);
        break;
    }
    }
    std::string second = "\n";
    second += G(line);
    return second;
}

} // namespace dielmon
