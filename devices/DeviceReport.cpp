#include "devices/DeviceReport.h"

#include "drives/Failure.h"

#include <QLocale>

#include <cmath>

namespace DeviceReport {

namespace {
const QString LineBreak = QStringLiteral("\r\n");
const QString Tab = QStringLiteral("\t");

QString deviceIdLine(const QString &letter)
{
    return QStringLiteral("DeviceID :") + Tab + letter + QStringLiteral(":\\") + LineBreak;
}
} // namespace

QString kiloOctets(double bytes)
{
    return QLocale::system().toString(std::round(bytes / 1024.0), 'f', 0);
}

QString arrivalHeader(const QString &letter)
{
    return QStringLiteral("Connection du périphérique !") + LineBreak + deviceIdLine(letter);
}

QString arrivalFacts(const QString &volumeName, double totalSize, double availableSpace)
{
    return QStringLiteral("N_Volume :") + Tab + volumeName + LineBreak + QStringLiteral("Taille totale : ") + Tab
        + kiloOctets(totalSize) + QStringLiteral(" Kilo-octets") + LineBreak + QStringLiteral("Disponible : ") + Tab
        + kiloOctets(availableSpace) + QStringLiteral(" Kilo-octets");
}

QString removalFirstLine()
{
    return QStringLiteral("Déconnection du périphérique !") + LineBreak;
}

QString removalSecondLine(const QString &letter)
{
    return deviceIdLine(letter);
}

QString mountFailure(const QString &device, const QString &cause)
{
    return QStringLiteral("Montage impossible du périphérique !") + LineBreak + QStringLiteral("Périphérique :") + Tab
        + device + LineBreak + QStringLiteral("Cause :") + Tab + cause;
}

QString ejectFailure(const QString &letter, const QString &volumeName, const QString &cause)
{
    return QStringLiteral("Éjection impossible !") + LineBreak + deviceIdLine(letter) + QStringLiteral("N_Volume :")
        + Tab + volumeName + LineBreak + QStringLiteral("Cause :") + Tab + cause;
}

QString faultyKeyMessage(const Failure &failure)
{
    return QStringLiteral("erreur N° ") + QString::number(failure.number()) + QStringLiteral(" générée par ")
        + failure.source() + QLatin1Char('\r') + failure.description()
        + QStringLiteral(" _ Cette clé semble défectueuse !");
}

} // namespace DeviceReport
